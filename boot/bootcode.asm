; SPDX-License-Identifier: GPL-3.0-or-later
; Boot code block of the boot sector the builder writes: bytes 62..509 of sector 0.
; The BIOS loads the sector at 0000:7C00h and enters it at offset 0, whose short jump
; lands here. The code reads the BPB in place, so it serves every geometry it is put in.
;
; It loads the first 3 sectors of IO.SYS to 0000:0700h and jumps to 0070:0000h with
; CH = media descriptor, DL = boot drive and AX:BX = first data sector, when the root
; directory starts with IO.SYS and MSDOS.SYS; otherwise it shows the non-system message,
; waits for a key and restarts the boot through INT 19h.

        bits 16
        cpu 8086
        org 7C3Eh

SECTOR          equ 7C00h
bpbBytesPerSector    equ SECTOR + 11
bpbSectorsPerCluster equ SECTOR + 13
bpbReservedSectors   equ SECTOR + 14
bpbFatCount          equ SECTOR + 16
bpbRootEntries       equ SECTOR + 17
bpbMedia             equ SECTOR + 21
bpbSectorsPerFat     equ SECTOR + 22
bpbSectorsPerTrack   equ SECTOR + 24
bpbHeads             equ SECTOR + 26
bpbHiddenSectors     equ SECTOR + 28
bpbDriveNumber       equ SECTOR + 36

BLOCK_OFFSET    equ 62                  ; where this block starts within the sector
MESSAGE_OFFSET  equ 414
NAMES_OFFSET    equ 486

; The diskette parameter table is copied over the first bytes of this block, which have
; run by then; the copy gets the BPB's sectors per track and a 15 ms head settle time.
PARAMETER_TABLE equ SECTOR + BLOCK_OFFSET
TABLE_SIZE      equ 11
TABLE_EOT       equ 4
TABLE_SETTLE    equ 9
HEAD_SETTLE_MS  equ 15
INT1E_VECTOR    equ 1Eh * 4

ROOT_BUFFER     equ 0500h               ; first root directory sector
ENTRY_SIZE      equ 32
ENTRY_CLUSTER   equ 26
NAME_SIZE       equ 11
LOAD_ADDRESS    equ 0700h
LOAD_SEGMENT    equ LOAD_ADDRESS / 16
LOAD_SECTORS    equ 3
READ_ATTEMPTS   equ 3

; Variables just below the sector, addressed from BP = 7C00h; the stack grows below them.
oldVectorOffset  equ -2
oldVectorSegment equ -4
rootSectorLow    equ -6
rootSectorHigh   equ -8
dataSectorLow    equ -10
dataSectorHigh   equ -12
VARIABLES_SIZE   equ 12

start:
        cli
        xor ax, ax
        mov ss, ax
        mov sp, SECTOR - VARIABLES_SIZE
        mov bp, SECTOR
        sti
        mov ds, ax
        mov es, ax
        cld
        mov [bpbDriveNumber], dl        ; read from the drive the BIOS booted

        mov bx, INT1E_VECTOR
        mov si, [bx]
        mov ax, [bx + 2]
        mov [bp + oldVectorOffset], si
        mov [bp + oldVectorSegment], ax
        mov di, PARAMETER_TABLE
        mov cx, TABLE_SIZE
        push ds
        mov ds, ax
copy_table:
        rep movsb
        pop ds
        mov byte [PARAMETER_TABLE + TABLE_SETTLE], HEAD_SETTLE_MS
        mov al, [bpbSectorsPerTrack]
        mov [PARAMETER_TABLE + TABLE_EOT], al
        mov word [bx], PARAMETER_TABLE
        mov [bx + 2], ds

        xor ax, ax                      ; reset the disk system
        mov dl, [bpbDriveNumber]
        int 13h
        jc no_system

        ; Root directory: after the reserved sectors and the FAT copies, counted from the
        ; start of the disk (hidden sectors included).
        mov al, [bpbFatCount]
        xor ah, ah
        mul word [bpbSectorsPerFat]
        add ax, [bpbHiddenSectors]
        adc dx, [bpbHiddenSectors + 2]
        add ax, [bpbReservedSectors]
        adc dx, 0
        mov [bp + rootSectorLow], ax
        mov [bp + rootSectorHigh], dx

        mov bx, ROOT_BUFFER
        call read_sector
        jc no_system
        mov si, system_names            ; "IO      SYS" then "MSDOS   SYS"
        mov di, ROOT_BUFFER
        mov cx, NAME_SIZE
        repe cmpsb
        jne no_system
        mov di, ROOT_BUFFER + ENTRY_SIZE
        mov cl, NAME_SIZE
        repe cmpsb
        jne no_system

        ; The root directory's length in sectors, rounded up; the data area follows it.
        ; Sectors shorter than a directory entry would overflow the division.
        mov bx, [bpbBytesPerSector]
        cmp bx, ENTRY_SIZE
        jb no_system
        mov ax, ENTRY_SIZE
        mul word [bpbRootEntries]
        mov cx, bx
        dec cx
        add ax, cx
        adc dx, 0
        div bx
        xor dx, dx
        add ax, [bp + rootSectorLow]
        adc dx, [bp + rootSectorHigh]
        mov [bp + dataSectorLow], ax
        mov [bp + dataSectorHigh], dx

        ; First sector of IO.SYS: (cluster - 2) x sectors per cluster + first data sector.
        mov ax, [ROOT_BUFFER + ENTRY_CLUSTER]
        sub ax, 2
        jb no_system
        mov cl, [bpbSectorsPerCluster]
        xor ch, ch
        mul cx
        add ax, [bp + dataSectorLow]
        adc dx, [bp + dataSectorHigh]
        mov bx, LOAD_ADDRESS
        mov di, LOAD_SECTORS
load_next:
        call read_sector
        jc no_system
        add bx, [bpbBytesPerSector]
        add ax, 1
        adc dx, 0
        dec di
        jnz load_next

        mov ch, [bpbMedia]
        mov dl, [bpbDriveNumber]
        mov bx, [bp + dataSectorLow]
        mov ax, [bp + dataSectorHigh]
        jmp LOAD_SEGMENT:0

no_system:
        mov si, message
        mov bx, 0007h                   ; page 0, light grey
print_next:
        lodsb
        test al, al
        jz wait_key
        mov ah, 0Eh
        int 10h
        jmp print_next
wait_key:
        xor ax, ax
        int 16h
        mov ax, [bp + oldVectorOffset]
        mov [INT1E_VECTOR], ax
        mov ax, [bp + oldVectorSegment]
        mov [INT1E_VECTOR + 2], ax
        int 19h

; Reads the sector DX:AX (from the start of the disk) to ES:BX. Carry set on failure.
; Keeps AX, BX, CX, DX.
read_sector:
        push ax
        push cx
        push dx
        push si
        mov si, [bpbSectorsPerTrack]
        cmp dx, si                      ; the track number must fit 16 bits (and si > 0)
        jae read_failed
        div si
        mov cl, dl                      ; sector within the track, from 1
        inc cl
        xor dx, dx
        mov si, [bpbHeads]
        cmp dx, si
        jae read_failed
        div si                          ; AX = cylinder, DX = head
        mov dh, dl
        mov ch, al
        ror ah, 1                       ; cylinder bits 8 and 9 into CL bits 6 and 7
        ror ah, 1
        or cl, ah
        mov dl, [bpbDriveNumber]
        mov si, READ_ATTEMPTS
read_again:
        mov ax, 0201h
        int 13h
        jnc read_done
        xor ax, ax                      ; the motor may still be spinning up
        int 13h
        dec si
        jnz read_again
read_failed:
        stc
read_done:
        pop si
        pop dx
        pop cx
        pop ax
        ret

code_end:
        times (MESSAGE_OFFSET - BLOCK_OFFSET) - (code_end - start) db 0
message:
        db 13, 10, "Non-System disk or disk error"
        db 13, 10, "Replace and press any key when ready"
        db 13, 10, 0
        times (NAMES_OFFSET - BLOCK_OFFSET) - ($ - start) db 0
system_names:
        db "IO      SYS"
        db "MSDOS   SYS"
        dw 0

; Refuses to assemble when the table copy would reach an instruction that has yet to run.
        absolute 0
        times (copy_table - start) - TABLE_SIZE resb 1
