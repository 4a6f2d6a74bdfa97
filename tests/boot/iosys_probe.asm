; SPDX-License-Identifier: GPL-3.0-or-later
; A stand-in IO.SYS for the boot test: reports on COM1 the registers the boot sector
; handed over and what it loaded, then ends the virtual machine through the debug-exit
; port. Loaded at 0070:0000h.

        bits 16
        cpu 8086
        org 0

COM1            equ 3F8h
LINE_STATUS     equ COM1 + 5
TRANSMIT_EMPTY  equ 20h
DEBUG_EXIT      equ 0F4h

start:
        mov [cs:handed_ax], ax
        mov [cs:handed_bx], bx
        mov [cs:handed_cx], cx
        mov [cs:handed_dx], dx
        call here
here:
        pop si
        sub si, here - start
        mov [cs:entry_ip], si
        mov ax, cs
        mov ds, ax

        mov si, label_cs
        call print
        mov ax, cs
        call print_word
        mov si, label_ip
        call print
        mov ax, [entry_ip]
        call print_word
        mov si, label_ch
        call print
        mov al, [handed_cx + 1]
        call print_byte
        mov si, label_dl
        call print
        mov al, [handed_dx]
        call print_byte
        mov si, label_bx
        call print
        mov ax, [handed_bx]
        call print_word
        mov si, label_ax
        call print
        mov ax, [handed_ax]
        call print_word

        ; The second and third sectors must be here, the fourth must not.
        mov si, label_s2
        call print
        mov si, 200h
        call print_eight
        mov si, label_s3
        call print
        mov si, 400h
        call print_eight
        mov si, label_s4
        call print
        mov si, 600h
        mov cx, 8
s4_next:
        lodsb
        call print_byte
        loop s4_next
        mov si, line_end
        call print

        mov al, 0
        out DEBUG_EXIT, al
halt:
        cli
        hlt
        jmp halt

; Sends the NUL-terminated text at DS:SI.
print:
        lodsb
        test al, al
        jz print_done
        call send
        jmp print
print_done:
        ret

; Sends the 8 characters at DS:SI.
print_eight:
        mov cx, 8
print_eight_next:
        lodsb
        call send
        loop print_eight_next
        ret

print_word:
        push ax
        mov al, ah
        call print_byte
        pop ax
print_byte:
        push ax
        push cx
        mov cl, 4
        push ax
        shr al, cl
        call print_digit
        pop ax
        call print_digit
        pop cx
        pop ax
        ret

print_digit:
        and al, 0Fh
        add al, '0'
        cmp al, '9'
        jbe send
        add al, 'A' - '9' - 1
send:
        push dx
        push ax
        mov dx, LINE_STATUS
wait_empty:
        in al, dx
        test al, TRANSMIT_EMPTY
        jz wait_empty
        pop ax
        mov dx, COM1
        out dx, al
        pop dx
        ret

label_cs: db "IO.SYS CS=", 0
label_ip: db " IP=", 0
label_ch: db " CH=", 0
label_dl: db " DL=", 0
label_bx: db " BX=", 0
label_ax: db " AX=", 0
label_s2: db " S2=", 0
label_s3: db " S3=", 0
label_s4: db " S4=", 0
line_end: db 13, 10, 0

handed_ax: dw 0
handed_bx: dw 0
handed_cx: dw 0
handed_dx: dw 0
entry_ip:  dw 0

        times 200h - ($ - $$) db 0
        db "SECTOR-2"
        times 400h - ($ - $$) db 0
        db "SECTOR-3"
        times 600h - ($ - $$) db 0
        db "SECTOR-4"
        times 800h - ($ - $$) db 0
