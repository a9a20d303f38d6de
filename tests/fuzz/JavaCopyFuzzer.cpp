// Copies Java char arrays and strings, shaped by the fuzz input, into native buffers the
// way the NativeUSB entry points do (command bytes of a report length or a DFU block
// length; device path strings). Input: a 16-bit count (offset so that negative counts
// occur), a flags byte, then the array's chars (two bytes each) or the string's bytes.
#include "FakeJniEnv.h"
#include "JniUtil.h"

using namespace nativesupport;

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
const int kCountOffset = 256;
const uint8_t kNullArray = 0x01;
const uint8_t kOutOfMemory = 0x02;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void copyCommand(int count, uint8_t flags, const uint8_t* data, size_t size)
{
    FakeJniEnv fake;
    std::vector<jchar> chars(size / 2);
    for (size_t i = 0; i < chars.size(); ++i)
        chars[i] = static_cast<jchar>(data[2 * i] | (data[2 * i + 1] << 8));
    const jcharArray array = (flags & kNullArray) != 0 ? nullptr : fake.charArray(chars);

    const std::vector<char> bytes = lowBytesOf(fake.env(), array, count);

    check(bytes.size() == static_cast<size_t>(count > 0 ? count : 0));
    check(!fake.exceptionPending());
    const size_t copied = array == nullptr ? 0 : std::min(bytes.size(), chars.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char expected = i < copied ? static_cast<char>(chars[i] & 0xFF) : 0;
        check(bytes[i] == expected);
    }
}

void copyPath(uint8_t flags, const uint8_t* data, size_t size)
{
    FakeJniEnv fake;
    // Modified UTF-8 never holds a zero byte; the VM encodes U+0000 as C0 80.
    std::string utf(reinterpret_cast<const char*>(data), size);
    for (char& c : utf) {
        if (c == 0)
            c = '0';
    }
    const jstring string = (flags & kNullArray) != 0 ? nullptr : fake.string(utf, (flags & kOutOfMemory) != 0);
    {
        ScopedUtfChars path(fake.env(), string);
        if (string == nullptr || (flags & kOutOfMemory) != 0) {
            check(path.c_str() == nullptr);
        } else {
            check(path.c_str() != nullptr && std::strlen(path.c_str()) == utf.size());
            check(std::memcmp(path.c_str(), utf.data(), utf.size()) == 0);
        }
    }
    check(fake.utfCharsHeld() == 0);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const int count = static_cast<int>(data[0] | (data[1] << 8)) - kCountOffset;
    const uint8_t flags = data[2];
    copyCommand(count, flags, data + 3, size - 3);
    copyPath(flags, data + 3, size - 3);
    return 0;
}
