; SPDX-License-Identifier: 0BSD
; asm/avr.S: bytetab_decode and bytetab_decode_P for the AVR, for avr-gcc.
; Under the 0BSD license, like bytetab/decode.h: use it for any purpose, with
; no notice owed in the programs that contain it.
;
; size_t bytetab_decode(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity);
;     The C function of bytetab/decode.h, which stays the reference, to the
;     byte: decodes the count token bytes at tokens (in RAM) into out, never
;     past capacity, and returns the number of bytes written; BYTETAB_ERROR
;     ((size_t)-1) when the tokens end inside a token or a token does not
;     fit, after writing every token before it in full and nothing of that
;     one. A count byte of 0 gives one byte, 0xFF 256; count 0 returns 0.
; size_t bytetab_decode_P(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity);
;     The same for tokens in flash (PROGMEM), read with LPM, as avr-libc
;     names its functions that read there (strcpy_P): like pgm_read_byte,
;     it reaches the low 64 KiB of flash, where a data pointer points; on
;     parts with more, the tokens must lie there (RAMPZ is not used).
;
; Calling convention: avr-gcc's: tokens in r25:r24, count in r23:r22, out in
; r21:r20, capacity in r19:r18, the result in r25:r24. Uses r18-r27, r30,
; r31 and the flags, all call-clobbered; reads r1, the zero register, and
; leaves it zero; touches no other register, no stack, no RAMPZ. Any AVR
; with MOVW and LPM Rd,Z+ (avr25 and up: every ATmega, XMEGA); 2- and 3-byte
; PC alike, jumps being relative only.
;
; 64 bytes each. Cycles of a classic AVR core (LD and ST 2, LPM 3): 13 a
; single byte from RAM, 14 from flash; a run of n bytes 20 + 3.5 n from RAM
; (22 + 3.5 n from flash), 2.5 more where n is odd; 20 a call, the CALL
; included (RET takes one more on a 3-byte PC). Per byte of the 1024 that
; the cycles.c test decodes, as it counts them (arguments, CALL and RET
; included): 3.6 in a long run (C1 FF four times: 3695 cycles from RAM,
; 3703 from flash), 13.0 in single bytes from RAM (13343), 14.0 from flash
; (14367). The C bytetab_decode with pgm_read_byte, by avr-gcc 5.4 -Os:
; 118 bytes, 5.1 and 33.0.
;
; From C, define BYTETAB_ASM before including bytetab/decode.h (which then
; declares both functions instead of defining bytetab_decode) and link this
; file; call bytetab_decode_P for tokens in PROGMEM:
;     avr-gcc -mmcu=atmega328p -Os -DBYTETAB_ASM -I<bytetab>/include -c main.c
;     avr-gcc -mmcu=atmega328p -c <bytetab>/asm/avr.S -o avr.o
;     avr-gcc -mmcu=atmega328p main.o avr.o -o program.elf
; or name avr.S among the sources of the avr-gcc command that links. Each
; function sits in its own section: with -Wl,--gc-sections a program pays
; only for the one it calls.

#if !defined(__AVR_HAVE_MOVW__) || !defined(__AVR_HAVE_LPMX__)
#error "asm/avr.S needs MOVW and LPM Rd,Z+ (avr25 and up); use the C bytetab_decode here"
#endif

; One decoder, \read being ld for RAM, lpm for flash. Registers: Z the next
; token byte, r25:r24 the token bytes left, X where the next byte goes,
; r21:r20 out (for the result), r19:r18 the room left, r22 the value, r23
; the count byte. The loop is laid out so that a single byte, the worst
; case, takes no branch but the one back: next, then store.
.macro decoder name, read
	.section .text.\name, "ax", @progbits
	.global \name
	.type \name, @function
\name:
	movw r30, r24			; 1  Z: the tokens
	movw r24, r22			; 1  the count, where SBIW works
	movw r26, r20			; 1  X: out
	rjmp .L\name\()next		; 2

; A run: its count byte r23 (0-255) bytes here, then one at store. Two a
; turn, 7 cycles: 3.5 a byte.
.L\name\()pair:
	st X+, r22			; 2
	st X+, r22			; 2
.L\name\()fill:
	subi r23, 2			; 1  two more to write?
	brcc .L\name\()pair		; 2/1
	sbrc r23, 0			; 2/1  0xFF now: the count byte was odd
	st X+, r22			; 2    and one is left before the last
.L\name\()store:
	st X+, r22			; 2

; The next token. 13 cycles a single byte from RAM, 14 from flash.
.L\name\()next:
	sbiw r24, 1			; 2  a token byte left?
	brcs .L\name\()done		; 1/2
	subi r18, 1			; 1  room for its first byte? (what C
	sbci r19, 0			; 1  would refuse with it too: any token)
	brcs .L\name\()fail		; 1/2
	\read r22, Z+			; 2 (ld) / 3 (lpm)
	sbrs r22, 7			; 1/2  bit 7 clear: a single byte
	rjmp .L\name\()store		; 2

; A run: 10 cycles (12 from flash) from next to the fill.
	sbiw r24, 1			; 2  its count byte
	brcs .L\name\()ret		; 1/2  none: malformed, r25:r24 is -1
	\read r23, Z+			; 2 / 3
	andi r22, 0x7F			; 1
	sub r18, r23			; 1  room for the count byte more?
	sbc r19, r1			; 1
	brcc .L\name\()fill		; 2/1
.L\name\()fail:
	movw r26, r20			; 1  no room: out - 1 - out is -1
	sbiw r26, 1			; 2
.L\name\()done:
	movw r24, r26			; 1  the bytes written
	sub r24, r20			; 1
	sbc r25, r21			; 1
.L\name\()ret:
	ret				; 4 (5 on a 3-byte PC)
	.size \name, . - \name
.endm

	decoder bytetab_decode, ld
	decoder bytetab_decode_P, lpm
