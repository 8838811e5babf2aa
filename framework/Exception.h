// Base class of every exception the program's components raise. Each component derives
// its own class from it (the message is what the user or the log sees).
#pragma once

#include <stdexcept>
#include <string>

namespace framework {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}

    std::string Message() const { return what(); }
};

}  // namespace framework
