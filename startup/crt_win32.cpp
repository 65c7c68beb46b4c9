// The few memory routines the compiler may call on its own (to clear or copy
// a record), and the decoder calls for its match copies, since the stub links
// no C runtime. Built with builtins off so they are not turned back into
// calls to themselves. Forward copies and fills use the string instructions:
// as small as a byte loop, and on every processor since the Pentium Pro
// (fast strings) they move many bytes a cycle, which the decoder's longer
// matches need.
#include <stddef.h>

extern "C" {

void* memset(void* dest, int value, size_t count) {
  void* d = dest;
  __asm__ volatile("rep stosb" : "+D"(d), "+c"(count) : "a"(value) : "memory");
  return dest;
}

void* memcpy(void* dest, const void* src, size_t count) {
  void* d = dest;
  __asm__ volatile("rep movsb" : "+D"(d), "+S"(src), "+c"(count) : : "memory");
  return dest;
}

// A forward copy is right whenever the destination starts before the
// source; otherwise the bytes are moved from the end down.
void* memmove(void* dest, const void* src, size_t count) {
  unsigned char* d = (unsigned char*)dest;
  const unsigned char* s = (const unsigned char*)src;
  if (d < s || d >= s + count) return memcpy(dest, src, count);
  while (count-- != 0) d[count] = s[count];
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
