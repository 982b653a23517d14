// Tables indexed by an id that each row also names: the row at index i must name id i, which a
// static_assert on RowsInIdOrder checks where the table is defined.
#pragma once

#include "driver/wdk.h"

namespace zyn {

template <class Row, ULONG Count, class Id>
constexpr bool RowsInIdOrder(const Row (&rows)[Count], Id Row::*id) {
    for (ULONG i = 0; i < Count; ++i) {
        if (static_cast<ULONG>(rows[i].*id) != i) {
            return false;
        }
    }
    return true;
}

} // namespace zyn
