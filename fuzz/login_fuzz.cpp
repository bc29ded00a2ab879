// The login check's reading of the router's login and index replies: the classification takes
// the first matching answer in its documented order, the CAS code is at most four characters
// taken from after the tag, and a redirect's port text is digits-first, ends before any CR and
// parses only when it is all digits.

#include "FuzzSupport.h"
#include "http/LoginCheck.h"

using namespace fw;
using fw::fuzz::require;

namespace {

LoginReply expected(const QByteArray& r, bool index) {
    const char* order[] = {" 200 OK", "301 ", " 400 ", " 404 ", " 503 ", " 401 "};
    const LoginReply kinds[] = {LoginReply::Ok,    LoginReply::Redirect,    LoginReply::BadRequest,
                                LoginReply::NoCgi, LoginReply::NotComplete, LoginReply::AuthWanted};
    for (int i = 0; i < (index ? 6 : 5); ++i)
        if (r.contains(order[i]))
            return kinds[i];
    return LoginReply::Other;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Capped like the receive buffer of one login exchange.
    const QByteArray reply = fuzz::bytesOf(data, std::min<size_t>(size, LoginReplyCapacity - 2));
    for (const bool index : {false, true})
        require(ClassifyLoginReply(reply, index) == expected(reply, index),
                "the first matching answer decides");

    const auto cas = CasCode(reply);
    const qsizetype tag = reply.indexOf("--CAS");
    require(cas.has_value() == (tag >= 0), "a CAS code exactly when there is a tag");
    if (cas) {
        require(cas->size() <= 4, "a CAS code is at most four characters");
        require(cas->toLatin1() == reply.mid(tag + 6, 4), "the characters after the tag");
    }

    if (const auto text = RedirectPortText(reply)) {
        require(!text->isEmpty() && text->at(0) >= '1' && text->at(0) <= '8',
                "a port text starts with 1 to 8");
        require(!text->contains('\r'), "a port text ends before CR");
        require(reply.contains(":" + text->left(1)), "a port text follows a colon");
        const auto port = ParsePortText(*text);
        bool digits = true;
        for (char c : *text)
            digits = digits && c >= '0' && c <= '9';
        require(port.has_value() == digits, "a port parses exactly when all digits");
        if (port && text->size() <= 9)
            require(*port == quint16(text->toUInt()), "the low 16 bits of the value");
    }
    return 0;
}
