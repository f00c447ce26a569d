; SPDX-License-Identifier: 0BSD
; asm/avr.S: bytetab_decode and bytetab_decode_P for the AVR, for avr-gcc.
; (draft: the header comes once the figures are measured)

.macro decoder name, read
	.section .text.\name, "ax", @progbits
	.global \name
	.type \name, @function
\name:
	movw r30, r24
	movw r24, r22
	movw r26, r20
	rjmp .L\name\()next
.L\name\()pair:
	st X+, r22
	st X+, r22
.L\name\()fill:
	subi r23, 2
	brcc .L\name\()pair
	sbrc r23, 0
	st X+, r22
.L\name\()store:
	st X+, r22
.L\name\()next:
	sbiw r24, 1
	brcs .L\name\()done
	subi r18, 1
	sbci r19, 0
	brcs .L\name\()fail
	\read r22, Z+
	sbrs r22, 7
	rjmp .L\name\()store
	sbiw r24, 1
	brcs .L\name\()ret
	\read r23, Z+
	andi r22, 0x7F
	sub r18, r23
	sbc r19, r1
	brcc .L\name\()fill
.L\name\()fail:
	movw r26, r20
	sbiw r26, 1
.L\name\()done:
	movw r24, r26
	sub r24, r20
	sbc r25, r21
.L\name\()ret:
	ret
	.size \name, . - \name
.endm

	decoder bytetab_decode, ld
	decoder bytetab_decode_P, lpm
