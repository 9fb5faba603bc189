#pragma once
// The typed store under TReg: keys below the current user's hive holding named string and
// double-word values. On Windows this is the registry itself; elsewhere a .reg text file
// (reg_file_store.h). Plain C++, no toolkit headers, so tools and fuzzers can use it.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orv {

// Raised by a read of a value of another type and by a read or write the store refuses.
class ERegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One opened key. Values read and written through it; the key closes (and its changes reach
// the store) with Close() or, failing that, with the destructor.
class RegKey {
public:
    virtual ~RegKey() = default;
    virtual bool ValueExists(std::string_view name) = 0;
    // A string value, or an expandable string taken unexpanded.
    virtual std::string ReadString(std::string_view name) = 0;
    virtual uint32_t ReadDWord(std::string_view name) = 0;
    virtual void WriteString(std::string_view name, std::string_view value) = 0;
    virtual void WriteDWord(std::string_view name, uint32_t value) = 0;
    // False when the changes could not be kept.
    virtual bool Close() = 0;
};

class RegStore {
public:
    virtual ~RegStore() = default;
    // Opens the key at `path` below the current user's hive ("" is the hive itself), creating
    // it and its missing parents when possible. A key opened without `forWriting` may still
    // be read when the store cannot be changed. Null when the key cannot be opened.
    virtual std::unique_ptr<RegKey> OpenKey(std::string_view path, bool forWriting) = 0;
    // Where the values of the key at `path` live, for messages: the settings file or the
    // registry key.
    virtual std::string Location(std::string_view path) const = 0;
    // Why the last OpenKey that gave null, or the last Close that gave false, failed, in plain
    // words; "" when the store cannot say.
    virtual std::string FailureReason() const { return {}; }
};

// The store of the current user: the registry on Windows; elsewhere a .reg file in the
// per-user configuration folder. Each platform has its own reg_user_store_*.cpp.
std::unique_ptr<RegStore> MakeUserRegStore();

// The messages of the store's failures, with the value name in place.
std::string InvalidDataTypeMessage(std::string_view name);
std::string FailedToSetMessage(std::string_view name);
std::string FailedToGetMessage(std::string_view name);

} // namespace orv
