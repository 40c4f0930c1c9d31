#pragma once
// Helpers shared by the code conversion tests.

#include <iconv.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/kanji_converter.h"
#include "platform/text.h"

namespace wp::kanji_test {

inline std::string Conv(std::string_view text, std::int32_t source, std::int32_t target,
                        std::int32_t* used = nullptr) {
    return CKanjiConverter::Convert(text.data(), text.size(), source, target, used);
}

inline std::int32_t Detect(std::string_view text) {
    return CKanjiConverter::DetectCode(text.data(), text.size());
}

// glibc's converter, as an independent reference. Convert gives nullopt when
// it refuses the input or leaves part of it unconverted.
class Iconv {
public:
    Iconv(const char* from, const char* to) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    std::optional<std::string> Convert(std::string_view in) {
        if (!ok()) {
            return std::nullopt;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out(in.size() * 4 + 16, '\0');
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = out.data();
        std::size_t dstLeft = out.size();
        if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) ||
            iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            return std::nullopt;
        }
        out.resize(out.size() - dstLeft);
        return out;
    }

private:
    iconv_t cd_;
};

// A literal that may hold zero bytes.
template <std::size_t N>
std::string Lit(const char (&text)[N]) {
    return std::string(text, N - 1);
}

inline std::string Bytes(std::initializer_list<unsigned> bytes) {
    std::string s;
    for (unsigned b : bytes) {
        s.push_back(static_cast<char>(b));
    }
    return s;
}

inline std::string TwoBytes(unsigned code) {
    return Bytes({(code >> 8) & 0xFF, code & 0xFF});
}

inline unsigned Code(const std::string& twoBytes) {
    return static_cast<unsigned>(static_cast<unsigned char>(twoBytes[0])) << 8 |
           static_cast<unsigned char>(twoBytes[1]);
}

// Realistic mails, written here in UTF-8: headers, CRLF lines, kanji, kana,
// full-width digits and symbols, lines that start with dots. No half-width
// katakana (see kHalfWidthLine), and none of the symbols whose Unicode form
// CP932 and EUC-JP disagree on.
inline const std::vector<const char*>& MailTexts() {
    static const std::vector<const char*> mails = {
        "Return-Path: <tanaka@example.jp>\r\n"
        "From: =?ISO-2022-JP?B?GyRCRURDZhsoQg==?= <tanaka@example.jp>\r\n"
        "To: suzuki@example.com\r\n"
        "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\r\n"
        "Date: Tue, 3 Jun 2025 10:15:00 +0900\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
        "\r\n"
        "鈴木様\r\n"
        "\r\n"
        "いつもお世話になっております。株式会社サンプルの田中です。\r\n"
        "来週の打ち合わせの件、６月１０日（火）１４時からでいかがでしょうか。\r\n"
        "場所：本社ビル３階　第２会議室\r\n"
        "議題：\r\n"
        "  1. 新製品「ワイドスクリーン」の仕様確認\r\n"
        "  2. 見積もり（￥1,200,000）について\r\n"
        "  3. その他 ※資料は前日までにお送りします。\r\n"
        "..\r\n"
        ".. ドットで始まる行\r\n"
        "〒100-0001 東京都千代田区 ☆★○●◎□■△▲→←↑↓\r\n"
        "よろしくお願いいたします。\r\n"
        "--\r\n"
        "田中 太郎 <tanaka@example.jp>\r\n",

        "From: info@example.co.jp\r\n"
        "Subject: [ML:01234] Re: 鯖の味噌煮\r\n"
        "X-Mailer: Sample Mailer 2.0\r\n"
        "\r\n"
        "> 鰯と鯵と鰹、どれが一番好きですか？\r\n"
        "僕は断然、鰻です。蕎麦屋の鴨南蛮も捨て難い。\r\n"
        "ギリシャ文字αβγ、ロシア文字АБВ、罫線─│┌┐。\r\n"
        "ヴァイオリン、ヂ、ヅ、ぱぴぷぺぽ、バビブベボ、ガギグゲゴ。\r\n"
        "...\r\n"
        "end\r\n",
    };
    return mails;
}

// One line with half-width katakana, and the same line widened.
constexpr const char* kHalfWidthLine = "ﾃﾞｰﾀﾍﾞｰｽのﾊﾟｽﾜｰﾄﾞを変更しました｡ｳﾞｨ ｶﾞｷﾞ ﾎﾟ ｱ\r\n";
constexpr const char* kWidenedLine = "データベースのパスワードを変更しました。ウ゛ィ ガギ ポ ア\r\n";

struct MailForms {
    std::string sjis, jis, euc;
};

// A UTF-8 text in the three codes, by way of the CP932 boundary and glibc.
inline MailForms Forms(const char* utf8) {
    MailForms f;
    f.sjis = Utf8ToCp932(utf8).value();
    f.jis = Iconv("CP932", "ISO-2022-JP").Convert(f.sjis).value();
    f.euc = Iconv("CP932", "EUC-JP").Convert(f.sjis).value();
    return f;
}

}  // namespace wp::kanji_test
