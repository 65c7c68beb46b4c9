// The few memory routines the compiler may call on its own (to clear or copy
// a record), since the stub links no C runtime. Built with builtins off so
// these loops are not turned back into calls to themselves.
#include <stddef.h>

extern "C" {

void* memset(void* dest, int value, size_t count) {
  unsigned char* d = (unsigned char*)dest;
  while (count-- != 0) *d++ = (unsigned char)value;
  return dest;
}

void* memcpy(void* dest, const void* src, size_t count) {
  unsigned char* d = (unsigned char*)dest;
  const unsigned char* s = (const unsigned char*)src;
  while (count-- != 0) *d++ = *s++;
  return dest;
}

void* memmove(void* dest, const void* src, size_t count) {
  unsigned char* d = (unsigned char*)dest;
  const unsigned char* s = (const unsigned char*)src;
  if (d < s) {
    while (count-- != 0) *d++ = *s++;
  } else {
    while (count-- != 0) d[count] = s[count];
  }
  return dest;
}

int memcmp(const void* a, const void* b, size_t count) {
  const unsigned char* p = (const unsigned char*)a;
  const unsigned char* q = (const unsigned char*)b;
  for (size_t i = 0; i < count; i++) {
    if (p[i] != q[i]) return p[i] < q[i] ? -1 : 1;
  }
  return 0;
}

}
