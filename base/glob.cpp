// Glob matching with "*" and "?".
//
// Backtracking only to the most recent "*" is enough: if the rest of the pattern cannot match
// after a later "*", letting an earlier one take more characters cannot help, since the later
// "*" could take them instead. So one remembered "*" gives the same answers as a stack of them,
// in time bounded by pattern length times subject length. A "*" past the first kGlobMaxStars
// is never remembered and so matches only the empty run.
#include "base/text.h"

namespace {

uint32_t NextCodePoint(const char16_t* s, size_t len, size_t* pos) {
  return Utf16Decode(s, len, pos);
}

uint32_t NextAsciiUpper(const char16_t* s, size_t len, size_t* pos) {
  uint32_t u = s[(*pos)++];
  return u >= 'a' && u <= 'z' ? u - ('a' - 'A') : u;
}

size_t Length(const char16_t* s, ptrdiff_t len) {
  if (!s) return 0;
  return len < 0 ? Utf16Length(s) : static_cast<size_t>(len);
}

template <typename Next>
bool Glob(const char16_t* pattern, ptrdiff_t plen, const char16_t* subject, ptrdiff_t slen,
          Next next) {
  const size_t pn = Length(pattern, plen), sn = Length(subject, slen);
  size_t pi = 0, si = 0;
  unsigned stars = 0;
  // The most recent stretchable "*": where the pattern resumes after it, where its run ends.
  bool have_star = false;
  size_t star_pi = 0, star_si = 0;
  unsigned star_count = 0;
  for (;;) {
    if (pi < pn) {
      size_t pj = pi;
      uint32_t pc = next(pattern, pn, &pj);
      if (pc == '*') {
        pi = pj;
        if (++stars <= kGlobMaxStars)
          have_star = true, star_pi = pi, star_si = si, star_count = stars;
        continue;
      }
      if (si < sn) {
        size_t sj = si;
        uint32_t sc = next(subject, sn, &sj);
        if (pc == '?' || pc == sc) {
          pi = pj, si = sj;
          continue;
        }
      }
    } else if (si >= sn) {
      return true;
    }
    // A mismatch, or one side ended first: the last "*" takes one more character.
    if (!have_star || star_si >= sn) return false;
    next(subject, sn, &star_si);
    pi = star_pi, si = star_si, stars = star_count;
  }
}

}  // namespace

bool GlobMatch(const char16_t* pattern, ptrdiff_t plen, const char16_t* subject, ptrdiff_t slen) {
  return Glob(pattern, plen, subject, slen, NextCodePoint);
}

bool AsciiGlobMatchNoCase(const char16_t* pattern, ptrdiff_t plen, const char16_t* subject,
                          ptrdiff_t slen) {
  return Glob(pattern, plen, subject, slen, NextAsciiUpper);
}
