/* The payload files, byte for byte, in read-only data, and a descriptor
   (start, length) for each, laid out as korvane::EmbeddedPayload.
   The build defines KORVANE_APP_EXE_GZ_FILE and KORVANE_WEBVIEW_LOADER_GZ_FILE
   as quoted paths before including this file. */

#if !defined(KORVANE_APP_EXE_GZ_FILE) || !defined(KORVANE_WEBVIEW_LOADER_GZ_FILE)
#error "the payload files are not named"
#endif

        .section .rdata,"dr"

        .p2align 4
app_exe_gz_bytes:
        .incbin KORVANE_APP_EXE_GZ_FILE
app_exe_gz_end:

        .p2align 4
webview_loader_gz_bytes:
        .incbin KORVANE_WEBVIEW_LOADER_GZ_FILE
webview_loader_gz_end:

        .p2align 3
        .globl APP_EXE_GZ
APP_EXE_GZ:
        .quad app_exe_gz_bytes
        .quad app_exe_gz_end - app_exe_gz_bytes

        .globl WEBVIEW_LOADER_GZ
WEBVIEW_LOADER_GZ:
        .quad webview_loader_gz_bytes
        .quad webview_loader_gz_end - webview_loader_gz_bytes
