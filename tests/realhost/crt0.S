# Start-up of the test program: a stack at the top of the 2 MiB of main RAM, the
# small-data pointer, a cleared .bss, then main(). main() returning parks the CPU.
    .set noreorder
    .section .text.start
    .globl _start
_start:
    la      $sp, 0x801FFF00
    la      $gp, _gp
    la      $t0, __bss_start
    la      $t1, __bss_end
1:  beq     $t0, $t1, 2f
    nop
    sw      $zero, 0($t0)
    b       1b
    addiu   $t0, $t0, 4
2:  jal     main
    nop
3:  b       3b
    nop

# putchar(c): the BIOS's A-function 0x3C. The BIOS returns through $ra.
    .text
    .globl bios_putchar
bios_putchar:
    li      $t2, 0xA0
    jr      $t2
    li      $t1, 0x3C
