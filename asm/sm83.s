; SPDX-License-Identifier: 0BSD
; draft
        .module bytetab_decode
        .area   _CODE
        .globl  _bytetab_decode

; frame: SP+0 K (lo: Ol+1, hi: Tl+1), SP+2 ret, SP+4 out0, SP+6 TP, SP+7 CP
_bytetab_decode::
        ld      a, e
        add     a, c
        inc     a               ; low byte of tokens' end, + 1
        inc     b               ; pages of tokens + 1
        ld      c, a
        ldhl    sp, #2
        ld      a, (hl+)        ; low byte of out
        inc     hl
        add     a, (hl)
        inc     a               ; low byte of out's end, + 1
        ld      (hl), b         ; TP
        inc     hl
        inc     (hl)            ; CP: pages of capacity + 1
        ld      b, c
        ld      c, a
        push    bc              ; K
        ldhl    sp, #4
        ld      a, (hl+)
        ld      h, (hl)
        ld      l, a            ; out
reload:
        pop     bc
        push    bc
        ld      a, b
        sub     e
        ld      b, a            ; token bytes left in this page, + 1
        ld      a, c
        sub     l
        ld      c, a            ; room left in this page, + 1
loop:
        dec     b
        jr      z, tpage
next:
        ld      a, (de)
        inc     de
        add     a, a
        jr      c, run
        rrca
        dec     c
        jr      z, cpage
put:
        ld      (hl+), a
        jr      loop
tpage:
        push    hl
        ldhl    sp, #8
        dec     (hl)
        pop     hl
        jr      nz, next
done:
        pop     bc
        pop     de
        pop     bc
        ld      a, l
        sub     c
        ld      c, a
        ld      a, h
        sbc     b
        ld      b, a
        pop     hl
        push    de
        ret
cpage:
        push    hl
        ldhl    sp, #9
        dec     (hl)
        pop     hl
        jr      nz, put
error:
        ldhl    sp, #4
        ld      a, (hl+)
        ld      h, (hl)
        ld      l, a
        dec     hl
        jr      done
run:
        dec     b
        jr      nz, 1$
        push    hl
        ldhl    sp, #8
        dec     (hl)
        pop     hl
        jr      z, error
1$:
        ld      b, a            ; value << 1
        ld      a, (de)
        inc     de              ; more
        dec     c
        cpl
        add     a, c            ; carry: fits in this page
        jr      c, 2$
        push    hl
        ldhl    sp, #9
        dec     (hl)
        pop     hl
        jr      z, error
2$:
        sub     c
        cpl                     ; more
        ld      c, a
        ld      a, b
        rrca
        srl     c
        inc     c
        jr      nc, 4$
3$:
        ld      (hl+), a
4$:
        ld      (hl+), a
        dec     c
        jr      nz, 3$
        jr      reload
