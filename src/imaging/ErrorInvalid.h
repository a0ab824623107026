#pragma once

#include "platform/Exception.h"

namespace imaging {

// Raised by the imaging binding and the DIB conversions; carries its message only.
class ErrorInvalid : public platform::Exception {
public:
    using Exception::Exception;
};

}  // namespace imaging
