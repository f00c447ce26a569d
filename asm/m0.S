/* SPDX-License-Identifier: 0BSD */
/* asm/m0.S: bytetab_decode for the Cortex-M0 (ARMv6-M, Thumb), for
   arm-none-eabi-gcc. Under the 0BSD license, like bytetab/decode.h: use it
   for any purpose, with no notice owed in the programs that contain it.

   size_t bytetab_decode(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity);
       The C function of bytetab/decode.h, which stays the reference, to the
       byte: decodes the count token bytes at tokens into out, never past
       capacity, and returns the number of bytes written; BYTETAB_ERROR
       ((size_t)-1) when the tokens end inside a token or a token does not
       fit, after writing every token before it in full and nothing of that
       one. A count byte of 0 gives one byte, 0xFF 256; count 0 returns 0.

   Calling convention: the AAPCS, as arm-none-eabi-gcc calls it: tokens in
   r0, count in r1, out in r2, capacity in r3, the result in r0. Uses r0-r6
   and the flags; saves r4-r6 and lr on the stack (16 bytes); calls nothing.

   46 bytes. Cycles by the Cortex-M0 technical reference manual, zero wait
   states (1 an ALU instruction, 2 a load or store, a branch 3 taken and 1
   not, PUSH 1+N, POP with pc 4+N, N counting every register listed): 19 a
   call, 19 a single byte, 16 + 7 a byte a run. Per byte of the 1024 that
   the cycles.c test decodes, arguments and BL included: 7.1 in a long run
   (C1 FF four times), 19.0 in single bytes (41 42 ...). The C
   bytetab_decode at -Os, counted alike: 10.2 and 39.0 as the 88-byte
   function of a -ffreestanding build, a byte loop; 1.2 and 71.0 in a
   hosted build, which inlines it and calls newlib's memset (word stores,
   166 bytes more) for every token.

   From C, define BYTETAB_ASM before including bytetab/decode.h (which then
   declares bytetab_decode instead of defining it) and link this file:
       arm-none-eabi-gcc -mcpu=cortex-m0 -mthumb -Os -DBYTETAB_ASM -I<bytetab>/include -c main.c
       arm-none-eabi-gcc -mcpu=cortex-m0 -mthumb -c <bytetab>/asm/m0.S -o m0.o
       arm-none-eabi-gcc -mcpu=cortex-m0 -mthumb <...> main.o m0.o -o program.elf
   or name m0.S among the sources of the gcc command that links. It sits in
   its own section, for --gc-sections. */

	.syntax unified
	.cpu cortex-m0
	.thumb
	.section .text.bytetab_decode, "ax", %progbits
	.global bytetab_decode
	.type bytetab_decode, %function
	.p2align 1
	.thumb_func
bytetab_decode:
	push	{r4, r5, r6, lr}	@ 5
	movs	r6, #0			@ 1   r6: bytes written, the index into out
.Ltoken:				@ r0: the next token byte; r1: the bytes from there on
	subs	r1, #1			@ 1
	bcc	.Ldone			@ 1/3 none left: all decoded
	ldrb	r4, [r0]		@ 2   r4: the value
	lsrs	r5, r4, #8		@ 1   r5, the bytes after the first: 0; carry: bit 7
	bcc	.Lone			@ 3/1
	subs	r1, #1			@ 1
	bcc	.Lfail			@ 1/3 no count byte follows
	adds	r4, #128		@ 1   bit 7 off in the low byte, all that strb stores
	adds	r0, #1			@ 1
	ldrb	r5, [r0]		@ 2   r5: the count byte, 0-255
.Lone:
	adds	r0, #1			@ 1   carry clear: a pointer within the tokens does not wrap
	sbcs	r3, r5			@ 1   capacity -= r5 + 1, carry clear if r5 >= capacity
	bcc	.Lfail			@ 1/3
.Lfill:					@ r5 + 1 bytes of r4: 7 cycles each, 5 the last
	strb	r4, [r2, r6]		@ 2
	adds	r6, #1			@ 1
	subs	r5, #1			@ 1
	bcs	.Lfill			@ 3/1
	b	.Ltoken			@ 3
.Lfail:					@ carry clear on both ways here
	sbcs	r6, r6			@ 1   r6 = -1: BYTETAB_ERROR
.Ldone:
	movs	r0, r6			@ 1
	pop	{r4, r5, r6, pc}	@ 8
	.size	bytetab_decode, . - bytetab_decode
