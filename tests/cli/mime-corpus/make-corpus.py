#!/usr/bin/env python3
"""Writes the MIME corpus beside this script: mails as today's mailers send
them (Gmail, Outlook, Apple Mail, Thunderbird, newsletters, old Japanese
mailers), and for each the text Python's email package reads from it
(policy default, get_body(('plain', 'html'))), which `wrenpost-cli view`
must print too. An HTML body is written as its words, for the comparison
is on words there.

The files are committed; run this only to change them. Each NN-name.eml
gets NN-name.expected: a first line "plain" or "html", then the text.
"""

import base64
import email
import email.policy
import html.parser
import os
import quopri

HERE = os.path.dirname(os.path.abspath(__file__))


def b64(data):
    text = base64.b64encode(data).decode("ascii")
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76)).encode("ascii")


def qp(data):
    return quopri.encodestring(data)


def header(subject="test", sender="sender@example.jp"):
    return ("From: %s\nTo: alice@example.jp\nSubject: %s\nDate: Mon, 21 Apr 2025 10:00:00 +0900\n"
            "MIME-Version: 1.0\n" % (sender, subject)).encode("ascii")


def single(content_type, encoding, body, subject="single"):
    out = header(subject) + ("Content-Type: %s\n" % content_type).encode("ascii")
    if encoding:
        out += ("Content-Transfer-Encoding: %s\n" % encoding).encode("ascii")
    return out + b"\n" + body + b"\n"


def part(content_type, encoding, body, extra=()):
    out = ("Content-Type: %s\n" % content_type).encode("ascii")
    if encoding:
        out += ("Content-Transfer-Encoding: %s\n" % encoding).encode("ascii")
    for line in extra:
        out += line.encode("ascii") + b"\n"
    return out + b"\n" + body


def multi(kind, boundary, parts, preamble=b"This is a multi-part message in MIME format.\n", params=""):
    out = ("Content-Type: multipart/%s; boundary=\"%s\"%s\n\n" % (kind, boundary, params)).encode("ascii")
    out += preamble
    for p in parts:
        out += b"--" + boundary.encode("ascii") + b"\n" + p + b"\n"
    return out + b"--" + boundary.encode("ascii") + b"--\n"


def mail(subject, body):
    return header(subject) + body


JA = "アリスさん\n\n来週の打ち合わせは水曜日の午後二時からです。\n資料は前日までにお送りします。\n\n山田\n"
EMOJI = "お花見の写真です 🌸🍡\n𠮷野家でお昼を食べました。\n한국어도 조금 씁니다.\n"
HTML = ("<html><head><title>お知らせ</title><style>p{color:red}</style></head><body>"
        "<h1>春のセール</h1><p>全品 <b>20%</b> オフ &amp; 送料無料。</p>"
        "<table><tr><td>期間</td><td>4月21日から4月30日</td></tr></table>"
        "<p>詳しくは<a href=\"https://shop.example/\">こちら</a>。<br>&copy; Shop &lt;Example&gt;</p>"
        "<script>track('x')</script></body></html>\n")
PDF = b"%PDF-1.4\n1 0 obj << >> endobj\ntrailer << >>\n%%EOF\n"
PNG = bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000")


def corpus():
    c = []
    u8 = JA.encode("utf-8")
    c.append(("gmail-utf8-base64", single('text/plain; charset="UTF-8"', "base64", b64(EMOJI.encode()))))
    c.append(("gmail-alternative", mail("alt", multi("alternative", "000000000000a1b2c3", [
        part('text/plain; charset="UTF-8"', "base64", b64(u8)),
        part('text/html; charset="UTF-8"', "quoted-printable", qp(("<div dir=\"ltr\">" + JA.replace("\n", "<br>")
                                                                 + "</div>").encode()))]))))
    c.append(("outlook-qp-alternative", mail("outlook", multi("alternative", "_000_TY2PR01MB", [
        part("text/plain; charset=\"utf-8\"", "quoted-printable", qp(u8)),
        part("text/html; charset=\"utf-8\"", "quoted-printable", qp(HTML.encode()))]))))
    c.append(("outlook-html-only", single("text/html; charset=\"utf-8\"", "quoted-printable", qp(HTML.encode()))))
    c.append(("apple-8bit-flowed", single("text/plain; charset=utf-8; format=flowed", "8bit", u8)))
    c.append(("apple-alternative-qp", mail("apple", multi("alternative", "Apple-Mail=_6C4B", [
        part("text/plain; charset=utf-8", "quoted-printable", qp(EMOJI.encode())),
        part("text/html; charset=utf-8", "quoted-printable", qp(("<html><body>" + EMOJI + "</body></html>").encode()))]))))
    c.append(("thunderbird-rfc2231-pdf", mail("tb", multi("mixed", "------------0HkT5f9qRh3vX1", [
        part("text/plain; charset=UTF-8; format=flowed", "8bit", u8),
        part("application/pdf", "base64", b64(PDF),
             ["Content-Disposition: attachment;",
              " filename*0*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8;",
              " filename*1*=.pdf"])]))))
    c.append(("thunderbird-related-in-alternative", mail("rel", multi("alternative", "alt1", [
        part("text/plain; charset=UTF-8", "7bit", b"Plain version of the newsletter.\n"),
        multi("related", "rel1", [
            part("text/html; charset=UTF-8", "7bit", b"<html><body><img src=\"cid:logo\"><p>HTML</p></body></html>\n"),
            part("image/png; name=\"logo.png\"", "base64", b64(PNG), ["Content-ID: <logo>"])])]))))
    c.append(("jis-7bit-legacy", single("text/plain; charset=ISO-2022-JP", "7bit", JA.encode("iso2022_jp"))))
    c.append(("sjis-8bit-legacy", single("text/plain; charset=Shift_JIS", "8bit", JA.encode("shift_jis"))))
    c.append(("eucjp-8bit-legacy", single("text/plain; charset=EUC-JP", "8bit", JA.encode("euc_jp"))))
    c.append(("jis-multipart-attachment", mail("jis", multi("mixed", "b1", [
        part("text/plain; charset=iso-2022-jp", "7bit", JA.encode("iso2022_jp")),
        part("application/octet-stream; name=\"data.bin\"", "base64", b64(b"\x00\x01\x02"),
             ["Content-Disposition: attachment; filename=\"data.bin\""])]))))
    c.append(("sjis-base64", single("text/plain; charset=Shift_JIS", "base64", b64(JA.encode("shift_jis")))))
    c.append(("eucjp-quoted-printable", single("text/plain; charset=euc-jp", "quoted-printable",
                                               qp(JA.encode("euc_jp")))))
    ko = "안녕하세요!\n\n이번 호에서는 전국의 벚꽃 명소를 소개합니다.\n- 진해 군항제\n"
    c.append(("euckr-newsletter-base64", single("text/plain; charset=EUC-KR", "base64", b64(ko.encode("euc_kr")))))
    zh = "您好！\n\n本期介绍各地的赏花胜地。\n"
    c.append(("gb2312-8bit", single("text/plain; charset=GB2312", "8bit", zh.encode("gb2312"))))
    tw = "您好！\n\n本期介紹各地的賞花勝地。\n"
    c.append(("big5-base64", single("text/plain; charset=big5", "base64", b64(tw.encode("big5")))))
    c.append(("utf8-qp-hangul-emoji", single("text/plain; charset=utf-8", "quoted-printable", qp(EMOJI.encode()))))
    c.append(("latin1-qp", single("text/plain; charset=iso-8859-1", "quoted-printable",
                                  qp("Caf\u00e9 cr\u00e8me, na\u00efve r\u00e9sum\u00e9.\n".encode("latin-1")))))
    c.append(("windows1252-quotes", single("text/plain; charset=windows-1252", "8bit",
                                           "\u201cQuoted\u201d \u2013 it\u2019s \u20ac5.\n".encode("cp1252"))))
    c.append(("nested-mixed-alternative-image", mail("nest", multi("mixed", "outer", [
        multi("alternative", "inner", [
            part("text/plain; charset=utf-8", "base64", b64(u8)),
            part("text/html; charset=utf-8", "base64", b64(HTML.encode()))]),
        part("image/png", "base64", b64(PNG), ["Content-Disposition: attachment; filename=\"a.png\""])]))))
    c.append(("alternative-html-only", mail("h", multi("alternative", "h1", [
        part("text/html; charset=utf-8", "base64", b64(HTML.encode()))]))))
    c.append(("html-entities-table", single("text/html; charset=us-ascii", "7bit",
                                            b"<p>Tom &amp; Jerry&nbsp;&#169; &#x2603;</p><table><tr><td>a</td>"
                                            b"<td>b</td></tr></table><!-- hidden --><p>end</p>")))
    c.append(("forwarded-rfc822-after-text", mail("fwd", multi("mixed", "f1", [
        part("text/plain; charset=utf-8", "8bit", "転送します。\n".encode()),
        part("message/rfc822", "", header("inner") + b"Content-Type: text/plain; charset=utf-8\n\ninner body\n")]))))
    c.append(("broken-base64-line", single("text/plain; charset=utf-8", "base64",
                                           b"5pel5pys6Kqe44Gu\n5pys!5paH#44Gn\n44GZ44CC\n")))
    c.append(("text-attachment-first", mail("ta", multi("mixed", "t1", [
        part("text/plain; charset=utf-8", "8bit", b"attached notes\n",
             ["Content-Disposition: attachment; filename=\"notes.txt\""]),
        part("text/plain; charset=utf-8", "8bit", "本文はこちら。\n".encode())]))))
    c.append(("related-with-start", mail("rs", multi("related", "r1", [
        part("image/png", "base64", b64(PNG), ["Content-ID: <img1>"]),
        part("text/html; charset=utf-8", "7bit", b"<p>start part</p>\n", ["Content-ID: <start1>"])],
        params="; type=\"text/html\"; start=\"<start1>\""))))
    c.append(("no-mime-ascii", b"From: a@example.jp\nSubject: plain\n\nJust plain text.\nTwo lines.\n"))
    c.append(("us-ascii-declared", single("text/plain; charset=us-ascii", "7bit", b"ASCII only.\n")))
    c.append(("utf8-8bit-long-lines", single("text/plain; charset=utf-8", "8bit", ("長い行です。" * 80 + "\n").encode())))
    c.append(("html-before-plain", mail("hp", multi("alternative", "hp1", [
        part("text/html; charset=utf-8", "7bit", b"<p>html first</p>\n"),
        part("text/plain; charset=utf-8", "7bit", b"plain second\n")]))))
    c.append(("mixed-case-names", single("text/plain; charset=\"Utf-8\"", "BASE64", b64(u8))))
    c.append(("multipart-signed", mail("sig", multi("signed", "s1", [
        part("text/plain; charset=utf-8", "quoted-printable", qp("署名付きのメールです。\n".encode())),
        part("application/pgp-signature; name=\"signature.asc\"", "7bit",
             b"-----BEGIN PGP SIGNATURE-----\nabc\n-----END PGP SIGNATURE-----\n")],
        params="; micalg=pgp-sha256; protocol=\"application/pgp-signature\""))))
    c.append(("delivery-report", mail("dsn", multi("report", "r9", [
        part("text/plain; charset=us-ascii", "7bit", b"Delivery to the following recipient failed.\n"),
        part("message/delivery-status", "7bit", b"Reporting-MTA: dns; mx.example\n\nFinal-Recipient: rfc822; x@y\n")],
        params="; report-type=delivery-status"))))
    c.append(("crlf-qp-soft-breaks", single("text/plain; charset=utf-8", "quoted-printable",
                                            qp(("とても長い一行のテキストです。" * 10 + "\n").encode()))))
    return c


class Words(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.skip = 0
        self.text = []

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style", "head"):
            self.skip += 1

    def handle_endtag(self, tag):
        if tag in ("script", "style", "head"):
            self.skip = max(0, self.skip - 1)

    def handle_data(self, data):
        if not self.skip:
            self.text.append(data)


def expected(raw):
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    body = msg.get_body(("plain", "html"))
    text = body.get_content() if body is not None else ""
    if body is not None and body.get_content_type() == "text/html":
        parser = Words()
        parser.feed(text)
        # Tags end words as the reader's line breaks and blanks do.
        parser.close()
        return "html\n" + "\n".join(" ".join(parser.text).split()) + "\n"
    return "plain\n" + text


def main():
    for name in os.listdir(HERE):
        if name.endswith(".eml") or name.endswith(".expected"):
            os.remove(os.path.join(HERE, name))
    for i, (name, raw) in enumerate(corpus(), 1):
        base = os.path.join(HERE, "%02d-%s" % (i, name))
        with open(base + ".eml", "wb") as out:
            out.write(raw)
        with open(base + ".expected", "w", encoding="utf-8", newline="\n") as out:
            out.write(expected(raw))


if __name__ == "__main__":
    main()
