#pragma once
// The message of the ERegError that `f` raises, or "no error".
#include "settings/reg_store.h"

#include <functional>
#include <string>

inline std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const orv::ERegError& e) {
        return e.what();
    }
    return "no error";
}
