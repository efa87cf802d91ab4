// Doubles on the wire and HTTP header names stay as the C locale has them
// whatever the process locale is (these run again under de_DE.UTF-8 and
// tr_TR.UTF-8, see tests/common/TestLocale.cpp).
#include "XmlRpcServerConnection.h"
#include "XmlRpcUtil.h"
#include "XmlRpcValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

XmlRpcValue readAll(const std::string &xml)
{
    size_t offset = 0;
    return XmlRpcValue(xml, &offset);
}

} // namespace

TEST(XmlRpcNumbers, DoublesTravelWithAPoint)
{
    EXPECT_EQ(XmlRpcValue(2.5).toXml(), "<value><double>2.500000</double></value>");
    EXPECT_EQ(XmlRpcValue(-0.125).toXml(), "<value><double>-0.125000</double></value>");
    for (double d : {2.5, -1234.0625, 1e-3, 0.0}) {
        XmlRpcValue back = readAll(XmlRpcValue(d).toXml());
        ASSERT_EQ(back.getType(), XmlRpcValue::TypeDouble);
        EXPECT_EQ(back.asDouble(), d);
    }
    EXPECT_EQ(readAll("<value><double>2.2</double></value>").asDouble(), 2.2);
    EXPECT_EQ(readAll("<value><double> -1.5e2</double></value>").asDouble(), -150.0);
    EXPECT_EQ(readAll("<value><double>+7</double></value>").asDouble(), 7.0);
    EXPECT_EQ(readAll("<value><double>2,5</double></value>").asDouble(), 2.0) << "a comma ends the number";
    EXPECT_EQ(readAll("<value><double>1e999</double></value>").asDouble(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(readAll("<value><double>-1e-999</double></value>").asDouble(), 0.0);
    EXPECT_TRUE(std::isnan(readAll("<value><double>nan</double></value>").asDouble()));
    EXPECT_FALSE(readAll("<value><double>x1</double></value>").valid());
    EXPECT_FALSE(readAll("<value><double>-</double></value>").valid());
    EXPECT_FALSE(readAll("<value><double>--1</double></value>").valid());

    double d = 0;
    EXPECT_TRUE(XmlRpcUtil::readDouble("0x1p4", d));
    EXPECT_EQ(d, 16.0);
    EXPECT_TRUE(XmlRpcUtil::readDouble("0x", d));
    EXPECT_EQ(d, 0.0);
}

TEST(XmlRpcNumbers, HeaderNamesIgnoreAsciiCase)
{
    for (const char *h : {"POST / HTTP/1.1\r\nContent-length: 12\r\nConnection: close\r\n\r\n<methodCall>",
                          "POST / HTTP/1.1\r\nCONTENT-LENGTH: 12\r\nCONNECTION: close\r\n\r\n<methodCall>",
                          "POST / HTTP/1.1\r\ncontent-length: 12\r\nconnection: close\r\n\r\n<methodCall>"}) {
        XmlRpcHeaderScan s = XmlRpcHeaderScan::scan(h);
        EXPECT_TRUE(s.complete) << h;
        EXPECT_TRUE(s.haveLength) << h;
        EXPECT_EQ(s.contentLength, 12) << h;
        EXPECT_TRUE(s.haveConnection) << h;
        EXPECT_FALSE(s.keepAlive()) << h;
    }
}
