#pragma once

#include "platform/Exception.h"

namespace imaging {

// Raised when a file handed to a codec wrapper cannot be opened for reading.
class EFOpenError : public platform::Exception {
public:
    using Exception::Exception;
};

}  // namespace imaging
