#include "FloatingPointEnvironment.h"

namespace platform {

void FloatingPointEnvironment::Remember() noexcept
{
    m_remembered = std::fegetenv(&m_environment) == 0;
}

void FloatingPointEnvironment::Restore() const noexcept
{
    if (m_remembered)
        std::fesetenv(&m_environment);
}

}  // namespace platform
