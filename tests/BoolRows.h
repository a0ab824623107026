#pragma once

// The data of a test run twice, once with a bool column false and once true.

#include <QTest>

namespace testfiles {

inline void BoolRows(const char* column, const char* whenFalse, const char* whenTrue)
{
    QTest::addColumn<bool>(column);
    QTest::newRow(whenFalse) << false;
    QTest::newRow(whenTrue) << true;
}

}  // namespace testfiles
