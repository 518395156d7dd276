#include "keyrecord/ZarnPublicKey.h"

#include <gtest/gtest.h>

#include <QMetaProperty>
#include <QPointer>

namespace zarn {
namespace {

TEST(ZarnPublicKeyComponent, FreshInstanceIsEmpty) {
    TZarnPublicKey key;
    EXPECT_EQ(key.GetPublicKeyOwnerId(), "");
    EXPECT_EQ(key.GetPublicKeyIndex(), 0);
    EXPECT_EQ(key.GetPublicKeyExpDate(), "");
    EXPECT_EQ(key.GetHashAlgorithmIndicator(), 0);
    EXPECT_EQ(key.GetPublicKeyAlgorithmIndicator(), 0);
    EXPECT_EQ(key.GetPublicKeyModulusLength(), 0);
    EXPECT_EQ(key.GetPublicKeyExponentLength(), 0);
    EXPECT_EQ(key.GetPublicKeyModulus(), "");
    EXPECT_EQ(key.GetPublicKeyExponent(), "");
    EXPECT_EQ(key.GetHashResult(), "");
    EXPECT_EQ(key.GetExpectedHashResult(), "");
    EXPECT_EQ(key.GetFileName(), "");
    EXPECT_FALSE(key.GetShowFileDialog());
}

TEST(ZarnPublicKeyComponent, PublishedPropertiesInStreamingOrder) {
    const QMetaObject& meta = TZarnPublicKey::staticMetaObject;
    const char* expected[] = {"PublicKeyOwnerId",
                              "PublicKeyIndex",
                              "PublicKeyExpDate",
                              "HashAlgorithmIndicator",
                              "PublicKeyAlgorithmIndicator",
                              "PublicKeyModulusLength",
                              "PublicKeyExponentLength",
                              "PublicKeyModulus",
                              "PublicKeyExponent",
                              "HashResult",
                              "FileName",
                              "ShowFileDialog"};
    ASSERT_EQ(meta.propertyCount() - meta.propertyOffset(), 12);
    for (int i = 0; i < 12; ++i) {
        const QMetaProperty property = meta.property(meta.propertyOffset() + i);
        EXPECT_STREQ(property.name(), expected[i]);
        EXPECT_TRUE(property.isWritable());
        EXPECT_TRUE(property.isStored());
    }
    EXPECT_EQ(meta.indexOfProperty("ExpectedHashResult"), -1) << "public, not published";
}

TEST(ZarnPublicKeyComponent, SettersStoreValuesUnchanged) {
    TZarnPublicKey key;
    key.SetPublicKeyModulus(" ab cd\xA0"
                            "ef ");
    EXPECT_EQ(key.GetPublicKeyModulus(), " ab cd\xA0"
                                         "ef ");
    key.SetPublicKeyIndex(300);
    EXPECT_EQ(key.GetPublicKeyIndex(), 300);
    key.SetPublicKeyIndex(-1);
    EXPECT_EQ(key.GetPublicKeyIndex(), -1);
    // Through the property system a byte travels as the character of the same code.
    EXPECT_TRUE(key.setProperty("PublicKeyOwnerId", QString::fromLatin1("12\xA0"
                                                                        "34")));
    EXPECT_EQ(key.GetPublicKeyOwnerId(), "12\xA0"
                                         "34");
    EXPECT_EQ(key.property("PublicKeyModulus").toString(), QString::fromLatin1(" ab cd\xA0"
                                                                               "ef "));
    EXPECT_TRUE(key.setProperty("HashAlgorithmIndicator", 7));
    EXPECT_EQ(key.GetHashAlgorithmIndicator(), 7);
    EXPECT_TRUE(key.setProperty("ShowFileDialog", true));
    EXPECT_TRUE(key.GetShowFileDialog());
}

TEST(ZarnPublicKeyComponent, OwnerFreesTheComponent) {
    auto* owner = new QObject;
    QPointer<TZarnPublicKey> key = new TZarnPublicKey(owner);
    key->setObjectName("ZarnPublicKey1");
    EXPECT_EQ(owner->findChild<TZarnPublicKey*>("ZarnPublicKey1"), key.data());
    delete owner;
    EXPECT_TRUE(key.isNull());
}

} // namespace
} // namespace zarn
