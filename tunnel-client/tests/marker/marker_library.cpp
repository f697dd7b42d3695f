// A library that only says that its code ran: loading it runs its constructor, which
// writes one line to standard error.

#include <unistd.h>

namespace {

__attribute__((constructor)) void announce() {
    static constexpr char kLine[] = "marker library constructor ran\n";
    if (::write(2, kLine, sizeof kLine - 1) < 0) return;
}

}  // namespace
