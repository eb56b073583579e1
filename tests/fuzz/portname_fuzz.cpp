// Fuzz target for the port-name parser: arbitrary registry data of any size, copied
// into a heap buffer of exactly that size (not terminated) so that AddressSanitizer
// stops a read past it. The parser must agree with the list of names it accepts.
#include "PortName.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

// "COM1" to "COM255": the only names with a port number.
const std::map<std::string, int>& ListedNames()
{
    static const std::map<std::string, int> names = [] {
        std::map<std::string, int> all;
        for (int n = 1; n <= kHighestListedPort; ++n)
            all.emplace("COM" + std::to_string(n), n);
        return all;
    }();
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<char[]> buffer(new char[size]);
    std::memcpy(buffer.get(), data, size);

    const int port = ParseComPortName(buffer.get(), size);

    const std::string name(buffer.get(), strnlen(buffer.get(), size));
    const auto listed = ListedNames().find(name);
    const int expected = listed == ListedNames().end() ? 0 : listed->second;
    if (port != expected || port < 0 || port > kHighestListedPort) {
        std::fprintf(stderr, "portname_fuzz: \"%s\" (%zu bytes) gave %d, expected %d\n",
                     name.c_str(), size, port, expected);
        std::abort();
    }
    if (ParseComPortName(nullptr, size) != 0) {
        std::fprintf(stderr, "portname_fuzz: a null name gave a port\n");
        std::abort();
    }
    return 0;
}
