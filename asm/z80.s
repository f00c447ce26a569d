; SPDX-License-Identifier: 0BSD
; asm/z80.s: bytetab_decode for the Z80, in sdcc 4.2's assembler (sdasz80).
; Under the 0BSD license: use it for any purpose, with no notice owed in the
; programs that contain it.
;
; size_t bytetab_decode(const unsigned char *tokens, size_t count,
;                       unsigned char *out, size_t capacity);
; The C function of include/bytetab/decode.h, which stays the reference, to
; the byte: a token byte with bit 7 clear is one byte of its value; one with
; bit 7 set is followed by a count c, and the two give c + 1 bytes (1 to 256)
; of its low 7 bits. Returns the number of bytes written, or BYTETAB_ERROR
; (0xFFFF) when the tokens end inside a token or a token does not fit in
; what is left of capacity; the tokens before that one are written in full,
; that one writes nothing, and nothing is ever written past capacity.
;
; Calling convention: sdcc's default for the Z80, __sdcccall(1), which
; decode.h declares for it (with BYTETAB_ASM defined): tokens in HL, count in
; DE, out and then capacity on the stack; the function removes those two
; from the stack and returns its result in DE.
; Registers: uses AF, BC, DE, HL and the alternate BC', DE', HL' (an
; interrupt handler that uses the alternate registers must save them, as it
; must anywhere); IX, IY and AF' are left as they were.
; Size: 77 bytes. Cycles per decoded byte, as tests/decode/cycles.c measures
; them over 1024 bytes with the call included: 20.6 in a long run (four
; tokens of 256), 70.2 in single bytes (1024 tokens).
;
; From C: define BYTETAB_ASM before including bytetab/decode.h, and link the
; object of this file with the program:
;   sdasz80 -plosgff z80.rel z80.s
;   sdcc -mz80 -c main.c
;   sdcc -mz80 main.rel z80.rel -o main.ihx
;
; While it decodes: HL is the next token, DE the next output byte, BC the
; token bytes left; the alternate HL' is the capacity left, DE' holds -1.

        .module bytetab_z80
        .area   _CODE

_bytetab_decode::
        ld      b, d
        ld      c, e            ; BC = count
        pop     af              ; the return address
        pop     de              ; DE = out
        exx
        pop     hl              ; HL' = capacity
        ld      de, #0xFFFF     ; DE' = -1
        exx
        push    af
        push    de              ; out below the return address, for the end
next:                           ; a token starts here, if any is left
        ld      a, b
        or      a, c
        jr      z, done
loop:                           ; T-states for one single byte:
        exx                     ;  4
        add     hl, de          ; 11 a byte of capacity for this token; CF: there was one
        exx                     ;  4
        jr      nc, fail        ;  7
        ld      a, (hl)         ;  7
        add     a, a            ;  4 CF = bit 7
        jr      c, run          ;  7
        ldi                     ; 16 (HL) to (DE), BC - 1; PE while tokens are left
        jp      pe, loop        ; 10 = 70
done:                           ; CF = 0
        pop     hl
        ex      de, hl
        sbc     hl, de          ; the bytes written: DE - out
        ex      de, hl
        ret

; A run token: one byte of capacity taken for its first byte, A = token << 1,
; CF = 1. Its count byte must follow and the rest of it fit before anything
; is written.
run:
        rra                     ; A = token, CF = 0 for the SBC below
        cpi                     ; HL to the count byte, BC - 1: PO if none
        jp      po, fail        ; (A is the byte CPI compares: sz80 takes
                                ; CPI's C, and P/V on an overflow, from that)
        push    bc
        ld      c, (hl)
        ld      b, #0           ; BC = c, the bytes after the first
        push    bc
        exx
        pop     bc
        sbc     hl, bc          ; the capacity left after this run
        exx
        jr      c, fail1
        and     a, #0x7F        ; the value
        ld      b, c            ; c + 1 bytes, two at a time: B = c / 2 + 1
        srl     b
        inc     b
        jr      nc, 1$          ; an odd number starts with the second store
2$:                             ; T-states for two bytes:
        ld      (de), a         ;  7
        inc     de              ;  6
1$:
        ld      (de), a         ;  7
        inc     de              ;  6
        djnz    2$              ; 13 = 39
        pop     bc
        cpi                     ; past the count byte, BC - 1
        jr      next
fail1:
        pop     bc
fail:
        exx                     ; DE' = -1, BYTETAB_ERROR
        pop     hl
        ret
