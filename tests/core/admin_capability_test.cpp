#include "core/admin_capability.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <algorithm>

namespace norv {
namespace {

TEST(AdminCapability, EachBeginMakesAFreshTokenAndOnlyTheCurrentTokenEndsIt) {
    const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    const QString first = AdminCapability::begin(QStringLiteral("first pem"));
    const QString second = AdminCapability::begin(std::nullopt);
    EXPECT_TRUE(hex.match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(hex.match(second).hasMatch()) << second.toStdString();
    EXPECT_NE(first, second);

    // A late end of the older engine leaves the newer identity in place.
    AdminCapability::end(first);
    auto current = AdminCapability::current();
    ASSERT_TRUE(current.has_value());
    EXPECT_EQ(current->token, second);
    EXPECT_FALSE(current->certificatePEM.has_value());

    AdminCapability::end(second);
    EXPECT_FALSE(AdminCapability::current().has_value());
}

// Once its launch ends, the token is zeros where it lay, in the launch's own copy too; what a
// reader took before stays its own.
TEST(AdminCapability, EndOverwritesTheWithdrawnToken) {
    const QString token = AdminCapability::begin(QStringLiteral("pem"));
    const QString read = AdminCapability::current()->token;
    const QChar* storage = token.constData();
    AdminCapability::end(token);
    EXPECT_FALSE(AdminCapability::current().has_value());
    EXPECT_TRUE(std::all_of(storage, storage + 64, [](QChar c) { return c.isNull(); }));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(read).hasMatch());
}

}  // namespace
}  // namespace norv
