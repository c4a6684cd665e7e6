// Reseeding the C library's rand(). The generators reseed before every request,
// and glibc's srand() runs its generator 310 steps to mix the new state, one
// function call per step: a large share of a run. Reseed() computes the same
// state in a tight loop and hands it to the library with setstate(), so rand()
// continues exactly as after std::srand(seed). It checks itself against
// std::srand() once and falls back to it on any other C library.
#ifndef QUOR2_RESEED_H
#define QUOR2_RESEED_H

namespace Orvane::Internal::QUOR2 {

// Same effect on std::rand() as std::srand(seed).
void Reseed(unsigned seed);

// True when Reseed() takes the fast way (it matched std::srand() here).
bool ReseedIsFast();

} // namespace Orvane::Internal::QUOR2

#endif
