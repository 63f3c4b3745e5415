// The one kind of failure mixlib reports: a single line its user can act on.
#pragma once

#include <stdexcept>

class MixError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
