; SPDX-License-Identifier: 0BSD
; asm/sm83.s: bytetab_decode for the SM83, the Game Boy's CPU, in the syntax
; of sdcc 4.2's assembler sdasgb. Under the 0BSD license, like decode.h: use
; it for any purpose, with no notice owed in the programs that contain it.
;
;   size_t bytetab_decode(const unsigned char *tokens, size_t count,
;                         unsigned char *out, size_t capacity);
;
; The C bytetab_decode in bytetab/decode.h is the reference; this one keeps
; its contract exactly. A token byte below 0x80 is one byte of that value; one
; with bit 7 set is followed by a count byte c and stands for c + 1 bytes of
; its low 7 bits. The bytes go to out, never past capacity, and their number
; is returned. Tokens that end inside a token, or a token that does not fit,
; give BYTETAB_ERROR (0xFFFF): every token before it is written in full, the
; failing one not at all.
;
; Calling convention: sdcc's default for the SM83, __sdcccall(1), which
; decode.h asks for when BYTETAB_ASM is defined: tokens in DE, count in BC,
; out and then capacity on the stack above the return address, popped by the
; callee; the result in BC. sdcc keeps nothing in a register across a call:
; A, BC, DE, HL and the flags are all used, none restored. Stack: 6 bytes
; beyond the arguments, whose slots it also uses.
;
; 109 bytes. SM83 clocks (T-states) per byte decoded, the call included, as
; decode.run.sm83 measures them over 1024 bytes: 17.4 in a long run (tokens
; C1 FF), 68.8 in single bytes. The C version (sdcc 4.2, --opt-code-size):
; 198 bytes, 63.3 and 628.4.
;
; Use from C: define BYTETAB_ASM before including bytetab/decode.h, and link
; this file's object:
;     sdasgb -plosgff sm83.rel sm83.s
;     sdcc -msm83 -c main.c
;     sdcc -msm83 main.rel sm83.rel -o main.ihx
;
; How: both limits are 16 bits, and the SM83 compares and subtracts 8 bits at
; a time, so each is split at 256. B holds the token bytes left in the current
; 256, plus 1, and C the room left, plus 1; a decrement that reaches 0 takes
; one of the further 256s that the capacity argument's slot now counts (its
; low byte for the tokens, its high byte for the room, each plus 1), or, with
; none left, ends: at a token boundary with the count of bytes, elsewhere with
; BYTETAB_ERROR. A run takes its length from C at once, borrowing a 256 if the
; current one is short. No pointer ever passes its end, so wrapping at 0x10000
; (a capacity of 0xFFFF, say) changes nothing.

        .module bytetab_decode
        .area   _CODE
        .globl  _bytetab_decode

; The stack from here on: SP+0 return address, SP+2 out as passed, SP+4 the
; further 256s of token bytes + 1, SP+5 those of room + 1.
_bytetab_decode::
        ld      a, b
        inc     a               ; further 256s of tokens + 1
        ld      b, c
        inc     b               ; token bytes in this 256 + 1
        ldhl    sp, #5
        inc     (hl)            ; further 256s of room + 1
        dec     hl
        ld      c, (hl)
        inc     c               ; room in this 256 + 1
        ld      (hl-), a
        ld      a, (hl-)
        ld      l, (hl)
        ld      h, a            ; HL: out
        jr      chk

; A single byte: 68 clocks.
next:
        ld      a, (de)         ; 8
        inc     de              ; 8
        add     a, a            ; 4  bit 7 into the carry
        jr      c, run          ; 8
        rrca                    ; 4  the value back
        dec     c               ; 4
        jr      z, room         ; 8
put:
        ld      (hl+), a        ; 8
chk:
        dec     b               ; 4
        jr      nz, next        ; 12
        push    hl              ; the token bytes' next 256, if any
        ldhl    sp, #6
        dec     (hl)
        pop     hl
        jr      nz, next
        pop     de              ; none: done, return HL - out
        pop     bc
result:
        ld      a, l
        sub     c
        ld      c, a
        ld      a, h
        sbc     b
        ld      b, a
        pop     hl              ; the capacity's slot
        push    de
        ret

room:                           ; the room's next 256, if any
        push    hl
        ldhl    sp, #7
        dec     (hl)
        pop     hl
        jr      nz, put
error:                          ; HL = out as passed - 1: BYTETAB_ERROR
        pop     de
        pop     bc
        ld      h, b
        ld      l, c
        dec     hl
        jr      result

; A run: A holds its value shifted left.
run:
        dec     b               ; its count byte
        jr      nz, 1$
        push    hl
        ldhl    sp, #6
        dec     (hl)
        pop     hl
        jr      z, error        ; the tokens end inside the run
1$:
        push    de
        push    af
        ld      a, (de)         ; bytes after the first
        ld      e, a
        dec     c               ; room in this 256
        cpl
        add     a, c            ; room in this 256 after the run; carry: enough
        inc     a               ; + 1
        ld      c, a
        jr      c, 2$
        push    hl              ; else it takes the next 256
        ldhl    sp, #11
        dec     (hl)
        pop     hl
        jr      z, toolong
2$:
        pop     af
        rrca
        srl     e               ; E + 1 bytes, two at a time: 16 clocks a byte
        inc     e
        jr      nc, 4$
3$:
        ld      (hl+), a        ; 8
4$:
        ld      (hl+), a        ; 8
        dec     e               ; 4
        jr      nz, 3$          ; 12
        pop     de
        inc     de
        jr      chk
toolong:
        pop     af
        pop     af
        jr      error
