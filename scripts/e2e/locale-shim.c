/* Preloaded into QEMU on the host. QEMU 7.2 never calls setlocale(), so its usb-mtp device
 * converts file names in the "C" locale: non-ASCII names list as "Oops" and uploading one
 * crashes the emulator. Switching the character type to UTF-8 before main() fixes both for
 * characters in the Basic Multilingual Plane. */
#include <locale.h>

__attribute__((constructor)) static void quillbarrow_e2e_utf8_ctype(void)
{
    setlocale(LC_CTYPE, "C.UTF-8");
}
