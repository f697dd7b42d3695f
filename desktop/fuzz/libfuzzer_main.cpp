// One libFuzzer binary per target: run-fuzzer.sh builds this file with
// -DCORVANA_FUZZ_ENTRY=<target function>.
#include "fuzz_targets.h"

#ifndef CORVANA_FUZZ_ENTRY
#error "build with -DCORVANA_FUZZ_ENTRY=fuzz::<target>"
#endif

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return CORVANA_FUZZ_ENTRY(data, size);
}
