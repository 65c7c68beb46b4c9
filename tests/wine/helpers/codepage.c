/* Prints the ANSI and the OEM code page that Wine gives a program started
   with the current locale, so that a locale test can prove it ran where the
   stub's texts are not the system's own (1252, 936) as well as where they
   are (932). */
#include <windows.h>
#include <stdio.h>

int main(void) {
  printf("%u %u\n", GetACP(), GetOEMCP());
  return 0;
}
