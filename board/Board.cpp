// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/Board.h"

#include "common/Error.h"

namespace rastrace {

Affine2 Affine2::Inverse() const {
    const double det = Determinant();
    if (det == 0) throw Error("The alignment cannot be undone");
    Affine2 inv;
    inv.m00 = m11 / det;
    inv.m01 = -m01 / det;
    inv.m10 = -m10 / det;
    inv.m11 = m00 / det;
    inv.tx = -(inv.m00 * tx + inv.m01 * ty);
    inv.ty = -(inv.m10 * tx + inv.m11 * ty);
    return inv;
}

Affine2 Affine2::Then(const Affine2& next) const {
    Affine2 r;
    r.m00 = next.m00 * m00 + next.m01 * m10;
    r.m01 = next.m00 * m01 + next.m01 * m11;
    r.m10 = next.m10 * m00 + next.m11 * m10;
    r.m11 = next.m10 * m01 + next.m11 * m11;
    r.tx = next.m00 * tx + next.m01 * ty + next.tx;
    r.ty = next.m10 * tx + next.m11 * ty + next.ty;
    return r;
}

}  // namespace rastrace
