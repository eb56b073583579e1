#include "PortName.h"

int ParseComPortName(const char* data, std::size_t size)
{
    if (data == nullptr)
        return 0;
    std::size_t length = 0;
    while (length < size && data[length] != '\0')
        ++length;

    constexpr std::size_t kPrefixLength = 3;
    constexpr std::size_t kMaxDigits = 3;
    if (length <= kPrefixLength || length > kPrefixLength + kMaxDigits)
        return 0;
    if (data[0] != 'C' || data[1] != 'O' || data[2] != 'M' || data[kPrefixLength] == '0')
        return 0;
    int number = 0;
    for (std::size_t i = kPrefixLength; i < length; ++i) {
        if (data[i] < '0' || data[i] > '9')
            return 0;
        number = number * 10 + (data[i] - '0');
    }
    return number <= kHighestListedPort ? number : 0;
}
