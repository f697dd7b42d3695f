// Only for fuzzing a g++ build with the libFuzzer runtime: g++ also instruments
// floating-point comparisons, which libFuzzer has no hooks for.
extern "C" {
void __sanitizer_cov_trace_cmpf(float, float) {}
void __sanitizer_cov_trace_cmpd(double, double) {}
}
