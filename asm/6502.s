; SPDX-License-Identifier: 0BSD
; asm/6502.s: bytetab_decode for the 6502, for ca65 and cc65's calling
; convention. Under the 0BSD license, like bytetab/decode.h: use it for any
; purpose, with no notice owed in the programs that contain it.
;
; size_t __fastcall__ bytetab_decode(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity);
;     The C function of bytetab/decode.h, which stays the reference, to the
;     byte: decodes the count token bytes at tokens into out, never past
;     capacity, and returns the number of bytes written; BYTETAB_ERROR
;     ($FFFF) when the tokens end inside a token or a token does not fit,
;     after writing every token before it in full and nothing of that one.
;     A count byte of 0 gives one byte, $FF 256; count 0 returns 0.
;
; Calling convention: cc65's __fastcall__: capacity in A/X (low byte in A),
; out, count and tokens on the C stack (out at (sp),0), which the function
; removes; the result in A/X. Clobbers A, X, Y, the flags and the zero-page
; registers ptr1-ptr4 and tmp1 (in the runtime's tosrsubax), all of which
; cc65 lets a called function clobber; leaves sreg, regsave, tmp2-tmp4 and
; regbank alone. sp is the C stack pointer, by the name cc65 2.19 gives it.
; Takes 2 bytes of C stack while it runs, and 3 of the CPU stack for its
; calls into the cc65 runtime (complax, pushax, tosrsubax, incsp6, incsp8);
; needs decimal mode off, as cc65 keeps it.
;
; 109 bytes, CODE only, nothing in RODATA, DATA or BSS: it runs from ROM.
; Of them, 22 keep to capacity; without that bound it would be 87. 6502
; cycles: 46 a single byte, 86 + 11 n a run of n bytes (a few more where a
; pointer crosses a page), about 500 a call (the caller's pushes of the
; arguments included). Per byte of the 1024 that tests/decode/cycles.c
; decodes, as sim65 counts them: 11.9 in a long run (C1 FF four times: 12207
; cycles), 46.6 in single bytes (47740). The C bytetab_decode, by cc65 2.19
; -O: 213 bytes, 134.5 and 511.3.
;
; From C, define BYTETAB_ASM before including bytetab/decode.h (which then
; declares bytetab_decode instead of defining it) and link this file:
;     cl65 -t c64 -O -DBYTETAB_ASM -I<bytetab>/include -c -o program.o program.c
;     ca65 -o 6502.o <bytetab>/asm/6502.s
;     cl65 -t c64 -o program program.o 6502.o
; (naming 6502.s among cl65's sources works too, but leaves 6502.o beside it).

        .export _bytetab_decode
        .import complax, pushax, tosrsubax, incsp6, incsp8
        .importzp sp, ptr1, ptr2, ptr3, ptr4

; Where the arguments go. Y stays 0 but in a run: the token byte and the
; output byte are (tokens),0 and (out),0, each pointer moved on by one.
room    = ptr1          ; ~room left: reaches $10000 as the output fills
out     = ptr2          ; where the next byte goes
count   = ptr3          ; token bytes left, each byte kept one more: cnt
                        ; counts the low byte down to 0, then one page off
                        ; the high byte, whose 0 is the end
tokens  = ptr4          ; the next token byte

; C set at a token byte means it is the count byte of the run whose first
; byte came before, its value << 1 in X. Only first sets C on the way to
; step; every other path reaches step with C clear.

.code
_bytetab_decode:
        jsr complax             ; ~capacity: room
        jsr pushax              ; kept on the C stack for the result
        ldy #7
copy:   lda (sp),y              ; room, out, count, tokens from the C stack
        sta room,y              ;   to ptr1-ptr4, which lie in that order
        dey
        bpl copy
        iny                     ; Y = 0
        inc count               ; the form that cnt counts down
        inc count+1
        clc                     ; no count byte due
        bcc cnt                 ; count 0 ends at once

; A single byte: 46 cycles from token to token.
next:   lda (tokens),y          ; 5
        bcs more                ; 2  the count byte of a run
        bmi first               ; 2  the first byte of a run
        inc room                ; 5  one byte more: does it fit?
        beq full                ; 2
single: sta (out),y             ; 6
        inc out                 ; 5
        bne step                ; 3
incohi: inc out+1               ;    A < $80 here (a single byte, or 0 from
                                ;    a run), so first below clears C
first:  asl a                   ; 2  C: bit 7, set at the first byte of a
        tax                     ; 2  run, whose value << 1 waits in X
step:   inc tokens              ; 5
        bne cnt                 ; 3
        inc tokens+1
cnt:    dec count               ; 5  a token byte less
        bne next                ; 3
        dec count+1
        bne next
        bcs error               ; the tokens end inside a run
        lda room                ; the result: room now less room at first
        ldx room+1
        jsr tosrsubax
        jmp incsp6

; The count byte: more (A) bytes after the first. 86 + 11 n cycles for the
; run of n bytes, its first byte included.
more:   tay                     ; Y = more
        adc room                ; C = 1: room + more + 1, past $FFFF when
        sta room                ;   more >= the room left
        bcc fits
; The low byte of room has wrapped: one page of room less, or none left
; when the high byte wraps too. From a single byte (C clear) back to it.
full:   inc room+1
        beq error
        bcc single
fits:   iny                     ; more + 1 (0 for 256)
        txa
        lsr a                   ; the value, C = 0
fill:   dey                     ; 2
        sta (out),y             ; 6  out + more down to out
        bne fill                ; 3
        lda (tokens),y          ; more again
        sec
        adc out                 ; out + more + 1
        sta out
        bcc step                ; C clear
        tya                     ; A = 0 for first
        bcs incohi

error:  lda #$FF                ; BYTETAB_ERROR
        tax
        jmp incsp8

        .assert ptr2 = ptr1 + 2 && ptr3 = ptr1 + 4 && ptr4 = ptr1 + 6, lderror, "asm/6502.s copies its arguments to ptr1-ptr4 as one block"
