#include "settings/reg_store.h"

namespace orv {

std::string InvalidDataTypeMessage(std::string_view name) {
    return "Invalid data type for '" + std::string(name) + "'";
}

std::string FailedToSetMessage(std::string_view name) {
    return "Failed to set data for '" + std::string(name) + "'";
}

std::string FailedToGetMessage(std::string_view name) {
    return "Failed to get data for '" + std::string(name) + "'";
}

} // namespace orv
