// For the length of a scope, the C runtime's malloc refuses large requests
// (the allocation under test) and grants small ones, so that the runtime's
// own small allocations, the exception object among them, still succeed.
#pragma once

#include <cstddef>

#include "import_patch.h"

namespace launcher_testing {

class RefusedLargeMalloc {
  public:
    static constexpr std::size_t kRefusedFrom = 1 << 20;

    RefusedLargeMalloc() { real_malloc_ = patch_.original_as<MallocFn>(); }

  private:
    using MallocFn = void*(__cdecl*)(std::size_t);
    static void* __cdecl Refusing(std::size_t size) {
        return size >= kRefusedFrom ? nullptr : real_malloc_(size);
    }

    static inline MallocFn real_malloc_ = nullptr;
    testing_support::ImportPatch patch_{"msvcrt.dll", "malloc",
                                        reinterpret_cast<const void*>(&Refusing)};
};

}  // namespace launcher_testing
