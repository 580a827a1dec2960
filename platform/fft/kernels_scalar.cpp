// One-lane kernels: the smallest sizes, below what the vector kernels take.
#include "kernels.h"

namespace kestrane::fft::internal {
const Kernels scalarKernels = makeKernels<Scalar>("scalar", 2);
}
