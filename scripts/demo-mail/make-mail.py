#!/usr/bin/env python3
"""Writes the demo's sample mailboxes as .eml files beside this script.

The files are committed; run this only to change them. Each mail is written
byte for byte as a Japanese mailer of its kind would send it: ISO-2022-JP
(7 bit and quoted-printable), Shift_JIS and EUC-JP bodies, encoded words in
B and Q form, raw JIS and raw Shift_JIS headers, half-width kana, multipart
mails with attachments, and dates in several zones. Line ends are LF; the
demo stores them with CR LF.
"""

import base64
import os
import random
import zlib
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def jis(text):
    return text.encode("iso2022_jp")


def jis_ext(text):
    # With half-width katakana (ESC ( I), as some mailers still send it.
    return text.encode("iso2022_jp_ext")


def bword(text, charset="ISO-2022-JP"):
    raw = text.encode("iso2022_jp") if charset == "ISO-2022-JP" else text.encode(charset)
    return "=?%s?B?%s?=" % (charset, base64.b64encode(raw).decode("ascii"))


def qword(text):
    out = []
    for b in jis(text):
        c = chr(b)
        if c.isalnum():
            out.append(c)
        elif c == " ":
            out.append("_")
        else:
            out.append("=%02X" % b)
    return "=?ISO-2022-JP?Q?%s?=" % "".join(out)


def folded_subject(text, chunk=12):
    """A long subject as several encoded words on folded lines."""
    words = [bword(text[i:i + chunk]) for i in range(0, len(text), chunk)]
    return "\n ".join(words)


def qp_bytes(data):
    """Quoted-printable of bytes, lines of at most 76 characters."""
    lines = []
    for line in data.split(b"\n"):
        out = ""
        for b in line:
            piece = chr(b) if (33 <= b <= 126 and b != ord("=")) or b == 32 else "=%02X" % b
            if len(out) + len(piece) > 75:
                lines.append(out + "=")
                out = ""
            out += piece
        lines.append(out)
    return "\n".join(lines).encode("ascii")


def b64_lines(data):
    text = base64.b64encode(data).decode("ascii")
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76)).encode("ascii")


def png_image(width, height, seed):
    rng = random.Random(seed)
    rows = b""
    for y in range(height):
        rows += b"\x00" + bytes(
            v for x in range(width) for v in (
                (x * 255 // max(1, width - 1)), (y * 255 // max(1, height - 1)), rng.randrange(120, 200)))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def pdf_document(title):
    body = ("%%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
            "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
            "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >> endobj\n"
            "4 0 obj << /Title (%s) >> endobj\n"
            "trailer << /Root 1 0 R /Info 4 0 R >>\n%%%%EOF\n" % title)
    return body.encode("ascii")


class Mail:
    def __init__(self, sender, subject, date, msgid):
        self.headers = [("From", sender), ("To", "alice@example.jp"), ("Subject", subject), ("Date", date),
                        ("Message-ID", "<%s@mail.example.jp>" % msgid), ("MIME-Version", "1.0")]
        self.body = b""

    def header(self, name, value):
        self.headers.append((name, value))
        return self

    def text(self, body, charset="ISO-2022-JP", encoding="7bit"):
        self.headers.append(("Content-Type", "text/plain; charset=%s" % charset))
        self.headers.append(("Content-Transfer-Encoding", encoding))
        self.body = body
        return self

    def raw_headers(self):
        out = b""
        for name, value in self.headers:
            if isinstance(value, str):
                value = value.encode("ascii")
            out += name.encode("ascii") + b": " + value + b"\n"
        return out

    def bytes(self):
        return self.raw_headers() + b"\n" + self.body


def multipart(mail, parts, kind="mixed", boundary="----=_Part_20250412"):
    mail.headers.append(("Content-Type", 'multipart/%s;\n boundary="%s"' % (kind, boundary)))
    body = b"This is a multi-part message in MIME format.\n\n"
    for headers, content in parts:
        body += b"--" + boundary.encode("ascii") + b"\n"
        for name, value in headers:
            body += name.encode("ascii") + b": " + value.encode("ascii") + b"\n"
        body += b"\n" + content + b"\n"
    body += b"--" + boundary.encode("ascii") + b"--\n"
    mail.body = body
    return mail


def text_part(body_bytes, charset="ISO-2022-JP", encoding="7bit"):
    return ([("Content-Type", "text/plain; charset=%s" % charset), ("Content-Transfer-Encoding", encoding)],
            body_bytes)


def file_part(content_type, filename, data):
    name = bword(filename) if any(ord(c) > 127 for c in filename) else filename
    return ([("Content-Type", '%s;\n name="%s"' % (content_type, name)),
             ("Content-Transfer-Encoding", "base64"),
             ("Content-Disposition", 'attachment;\n filename="%s"' % name)], b64_lines(data))


def alice():
    mails = []

    m = Mail("%s <yamada@example.co.jp>" % bword("山田 太郎"), bword("来週の定例会議について"),
             "Mon, 14 Apr 2025 09:12:31 +0900", "20250414091231.yamada")
    m.text(jis("鈴木様\n\nお疲れさまです。山田です。\n来週の定例会議は、4月21日（月）10時から第二会議室で行います。\n"
               "議題は次のとおりです。\n\n  1. 第1四半期の売上報告\n  2. 新製品の発売日程\n  3. その他\n\n"
               "資料は前日までにお送りします。\nよろしくお願いいたします。\n\n-- \n山田 太郎 <yamada@example.co.jp>\n"))
    mails.append(("01-meeting.eml", m))

    m = Mail("%s <sales@example.ne.jp>" % qword("佐藤 花子"), qword("Re: 見積書の件"),
             "Mon, 14 Apr 2025 11:40:02 +0900", "20250414114002.sato")
    m.header("In-Reply-To", "<20250411.estimate@example.jp>")
    m.text(jis("お世話になっております。佐藤です。\n\n> 見積書を再送していただけますか。\n\n"
               "承知いたしました。改訂版の見積書を本日中にお送りします。\n数量を１２０個に変更しております。\n"))
    mails.append(("02-estimate.eml", m))

    m = Mail("%s <noc@isp.example.jp>" % bword("ネットワーク運用センター"),
             bword("【重要】サーバーメンテナンスのお知らせ（4/20 深夜）"),
             "Mon, 14 Apr 2025 15:00:00 +0900", "maint-20250420.noc")
    m.text(("お客様各位\n\n下記の日程でメールサーバーのメンテナンスを行います。\n作業中はメールの送受信ができません。\n\n"
            "  日時：2025年4月20日（日） 2:00～5:00\n  対象：pop.isp.example.jp / smtp.isp.example.jp\n\n"
            "ご不便をおかけしますが、ご理解のほどお願い申し上げます。\n").encode("cp932"),
           charset="Shift_JIS", encoding="8bit")
    mails.append(("03-maintenance-sjis.eml", m))

    m = Mail("%s <kato@univ.example.ac.jp>" % bword("加藤 一郎"), bword("研究室の飲み会（EUC-JP で送っています）"),
             "Tue, 15 Apr 2025 18:22:10 +0900", "20250415182210.kato")
    m.text(("皆さん\n\n加藤です。新歓を兼ねた飲み会を行います。\n\n  日時：4月25日（金）19時〜\n  場所：駅前の「さくら亭」\n"
            "  会費：3,000円（学生は2,000円）\n\n参加できる人は木曜日までに返信してください。\n").encode("euc_jp"),
           charset="EUC-JP", encoding="8bit")
    mails.append(("04-party-eucjp.eml", m))

    m = Mail("%s <info@shop.example.com>" % bword("オンラインストア"), bword("ご注文ありがとうございます（注文番号 A-20250415-0042）"),
             "Tue, 15 Apr 2025 21:03:44 +0900", "order-A-20250415-0042")
    m.text(qp_bytes(jis("この度はご注文いただき、誠にありがとうございます。\n\n【ご注文内容】\n"
                        "  商品名：ワイヤレスキーボード（日本語配列）\n  数量　：1\n  金額　：4,980円（税込）\n\n"
                        "発送の準備ができ次第、あらためてご連絡いたします。\n")),
           encoding="quoted-printable")
    mails.append(("05-order-qp-jis.eml", m))

    m = Mail("", "", "", "")
    # Raw Shift_JIS in the header, half-width kana included, as an old mailer sends it.
    m.headers = [
        ("From", "ﾀﾅｶ ﾀﾛｳ <tanaka@example.jp>".encode("cp932")),
        ("To", "alice@example.jp"),
        ("Subject", "ﾃｽﾄ送信です（半角ｶﾅ）".encode("cp932")),
        ("Date", "Wed, 16 Apr 2025 08:05:17 +0900"),
        ("Message-ID", "<20250416080517.tanaka@example.jp>"),
        ("MIME-Version", "1.0"),
    ]
    m.text("ﾃｽﾄです。ﾒｰﾙｿﾌﾄを新しくしたので、文字化けしていないか確認してください。\nｶﾀｶﾅは半角で書いています。\n".encode("cp932"),
           charset="Shift_JIS", encoding="8bit")
    mails.append(("06-halfwidth-raw-sjis.eml", m))

    m = Mail("%s <suzuki@example.co.jp>" % bword("鈴木 一郎"), bword("見積書をお送りします"),
             "Wed, 16 Apr 2025 10:30:00 +0900", "20250416103000.suzuki")
    multipart(m, [text_part(jis("佐藤様\n\nいつもお世話になっております。\n見積書をお送りしますので、ご確認ください。\n")),
                  file_part("application/pdf", "見積書_2025年4月.pdf", pdf_document("Estimate 2025-04"))])
    mails.append(("07-estimate-pdf.eml", m))

    m = Mail("%s <mika@example.ne.jp>" % bword("美香"), bword("桜の写真です"),
             "Wed, 16 Apr 2025 19:45:12 +0900", "20250416194512.mika")
    multipart(m, [text_part(jis("週末に撮った桜の写真を送ります。\n上野公園はすごい人でした！\n")),
                  file_part("image/png", "sakura.png", png_image(64, 48, 7)),
                  file_part("image/png", "ueno.png", png_image(48, 64, 11))])
    mails.append(("08-photos.eml", m))

    m = Mail("Project Updates <updates@tracker.example.org>", "[wrenpost] Weekly digest: 12 issues closed",
             "Thu, 17 Apr 2025 00:15:09 +0000", "digest-2025-16.tracker")
    m.header("List-Id", "<wrenpost.tracker.example.org>")
    m.text(b"Hello,\n\nThis week 12 issues were closed and 3 were opened.\n\n  #141 Status bar panes follow the width\n"
           b"  #142 Toolbar position is kept\n  #145 Encoded words in From\n\n-- \nThe tracker\n",
           charset="us-ascii")
    mails.append(("09-digest-utc.eml", m))

    m = Mail("%s <john.smith@example.com>" % bword("John Smith（ジョン）"), bword("来日スケジュール / Visit schedule"),
             "Wed, 16 Apr 2025 17:20:00 -0500", "visit.20250416.jsmith")
    m.text(jis("Dear Mr. Yamada,\n\nI will arrive at Narita on April 28.\n成田に4月28日に到着します。\n\nBest regards,\nJohn\n"))
    mails.append(("10-visit-cdt.eml", m))

    long_subject = ("【ご案内】2025年度 新入社員研修プログラムの実施要項、日程表、会場のご案内および"
                    "事前課題の提出方法について（人事部より・必ずお読みください）")
    m = Mail("%s <jinji@example.co.jp>" % bword("人事部 研修担当"), folded_subject(long_subject),
             "Thu, 17 Apr 2025 09:00:00 +0900", "training-2025.jinji")
    m.text(jis("新入社員の皆さん\n\n研修の詳細は添付の要項をご覧ください。\n事前課題は4月30日までに提出してください。\n"))
    mails.append(("11-long-subject.eml", m))

    m = Mail("%s <newsletter@travel.example.jp>" % bword("旅の便り編集部"), bword("ゴールデンウィーク特集：全国の花めぐり"),
             "Thu, 17 Apr 2025 12:00:00 +0900", "gw-2025.travel")
    multipart(m, [text_part(jis("ゴールデンウィークにおすすめの花の名所をご紹介します。\n\n・あしかがフラワーパーク（藤）\n"
                                "・国営ひたち海浜公園（ネモフィラ）\n・弘前公園（桜）\n")),
                  ([("Content-Type", "text/html; charset=ISO-2022-JP"), ("Content-Transfer-Encoding", "7bit")],
                   jis("<html><body><h1>花めぐり</h1><p>ゴールデンウィークにおすすめの花の名所をご紹介します。</p>"
                       "</body></html>"))],
              kind="alternative", boundary="alt-20250417")
    mails.append(("12-newsletter-alternative.eml", m))

    m = Mail("%s <ito@example.jp>" % bword("伊藤"), bword("Re: Re: Re: 来週の定例会議について"),
             "Thu, 17 Apr 2025 13:14:15 +0900", "20250417131415.ito")
    m.text(jis("了解しました。\n\n> > 第二会議室で行います。\n> 承知しました。\n"))
    mails.append(("13-reply-chain.eml", m))

    m = Mail("%s <london@example.co.uk>" % bword("ロンドン支社 佐々木"), bword("月次報告（3月分）"),
             "Thu, 17 Apr 2025 08:30:00 +0100", "monthly-2025-03.london")
    multipart(m, [text_part(jis("本社 経営企画部御中\n\n3月分の月次報告を添付します。\n")),
                  file_part("text/csv", "月次報告_2025-03.csv",
                            "項目,金額\n売上,12500000\n経費,8300000\n利益,4200000\n".encode("cp932"))])
    mails.append(("14-monthly-csv-bst.eml", m))

    m = Mail("%s <no-reply@bank.example.jp>" % bword("みどり銀行"), bword("お振込受付のお知らせ"),
             "Fri, 18 Apr 2025 06:02:51 +0900", "transfer-0418.bank")
    m.text(jis("いつもみどり銀行をご利用いただき、ありがとうございます。\n\nお振込を受け付けました。\n"
               "  受付日時：2025年4月18日 6:02\n  金額　　：15,000円\n\nこのメールは送信専用です。\n"))
    mails.append(("15-bank-notice.eml", m))

    m = Mail("Maria Garcia <maria@example.es>", "Photos from Kyoto / 京都の写真",
             "Thu, 17 Apr 2025 23:41:00 +0200", "kyoto.maria")
    m.headers[2] = ("Subject", "Photos from Kyoto / " + bword("京都の写真"))
    multipart(m, [text_part(b"Hi Alice,\n\nHere are some photos from our trip.\n\nMaria\n", charset="us-ascii"),
                  file_part("image/png", "kinkakuji.png", png_image(80, 60, 3))])
    mails.append(("16-kyoto-cest.eml", m))

    # Raw JIS in the header, escape sequences and all, without encoded words.
    # (Text whose JIS bytes hold no "=": the header reader cuts pieces there.)
    m = Mail("", "", "", "")
    m.headers = [
        ("From", jis("小林 <kobayashi@example.jp>")),
        ("To", "alice@example.jp"),
        ("Subject", jis("古いメーラーから送った件名です")),
        ("Date", "Fri, 18 Apr 2025 10:10:10 +0900"),
        ("Message-ID", "<20250418101010.kobayashi@example.jp>"),
        ("MIME-Version", "1.0"),
    ]
    m.text(jis("古いメーラーから送っています。件名もそのまま JIS です。\n"))
    mails.append(("17-raw-jis-header.eml", m))

    m = Mail("%s <support@example.com>" % bword("サポートデスク"), bword("お問い合わせありがとうございます [#48213]"),
             "Thu, 17 Apr 2025 18:05:00 -0700", "ticket-48213.support")
    m.text(jis_ext("お問い合わせいただき、ありがとうございます。\n担当者より2営業日以内にご連絡いたします。\n"
                   "（このﾒｰﾙは自動送信です）\n"))
    mails.append(("18-support-pdt.eml", m))

    m = Mail("%s <office@example.co.jp>" % bword("総務部"), bword("健康診断の日程（添付あり）"),
             "Fri, 18 Apr 2025 13:30:00 +0900", "kenshin-2025.soumu")
    multipart(m, [text_part(qp_bytes(jis("社員各位\n\n今年度の健康診断の日程を添付します。\n都合の悪い方は総務部までご連絡ください。\n")),
                            encoding="quoted-printable"),
                  file_part("application/pdf", "健康診断日程表.pdf", pdf_document("Health check 2025")),
                  file_part("text/plain", "注意事項.txt", "前日21時以降は絶食してください。\n".encode("cp932"))])
    mails.append(("19-health-check-two-files.eml", m))

    m = Mail("%s <mama@example.ne.jp>" % bword("母"), "", "Fri, 18 Apr 2025 20:48:03 +0900", "20250418204803.mama")
    m.headers = [h for h in m.headers if h[0] != "Subject"]
    m.text(jis("件名なしでごめんね。週末は帰ってくるの？\n"))
    mails.append(("20-no-subject.eml", m))

    m = Mail("%s <security@example.jp>" % bword("セキュリティ通知"), bword("新しい端末からのログインがありました"),
             "Sat, 19 Apr 2025 02:14:55 +0000", "login-alert-0419.security")
    m.text(jis("新しい端末からアカウントへのログインがありました。\n  日時：2025-04-19 02:14 (UTC)\n  場所：東京\n"
               "心当たりがない場合は、パスワードを変更してください。\n"))
    mails.append(("21-login-alert-utc.eml", m))

    m = Mail("%s <takahashi@example.jp>" % bword("高橋 健太"), bword("議事録（4/14 定例会議）"),
             "Sat, 19 Apr 2025 11:22:33 +0900", "minutes-0414.takahashi")
    big = "".join("%d. 議事内容の記録を続けます。発言者と決定事項を時系列で記載しています。\n" % i for i in range(1, 61))
    multipart(m, [text_part(jis("皆様\n\n4/14 の定例会議の議事録をお送りします。\n")),
                  file_part("text/plain", "議事録_0414.txt", big.encode("cp932")),
                  file_part("image/png", "whiteboard.png", png_image(160, 120, 42))])
    mails.append(("22-minutes-large.eml", m))

    mails.extend(todays_mails())
    return mails


def uword(text, letter="B", charset="UTF-8"):
    raw = text.encode(charset)
    if letter.upper() == "B":
        return "=?%s?%s?%s?=" % (charset, letter, base64.b64encode(raw).decode("ascii"))
    return "=?%s?%s?%s?=" % (charset, letter, "".join("=%02X" % b if b > 127 or b in b"=?_ " else chr(b)
                                                      for b in raw))


def todays_mails():
    """Mail as today's mailers send it: UTF-8 and other charsets inside MIME."""
    mails = []

    # Gmail: UTF-8 base64 subject and body, an emoji and a character beyond JIS.
    m = Mail("%s <hanako.sato@gmail.example>" % uword("佐藤 花子"), uword("🌸 お花見の写真を共有します"),
             "Sun, 20 Apr 2025 10:05:00 +0900", "CAHanami0420.gmail")
    m.text(b64_lines("アリスさん\n\n週末のお花見、楽しかったですね 🌸🍡\n"
                     "写真は共有フォルダに置きました。𠮷野家で食べたお昼の写真もあります。\n\n花子\n".encode("utf-8")),
           charset='"UTF-8"', encoding="base64")
    mails.append(("23-utf8-emoji.eml", m))

    # Outlook: quoted-printable UTF-8 with an HTML alternative.
    m = Mail("%s <tanaka@outlook.example>" % uword("田中 誠", "Q", "utf-8"),
             uword("【社内報】4月号のお知らせ", "Q", "utf-8"), "Mon, 21 Apr 2025 08:30:00 +0900",
             "OS0P286MB0421.outlook")
    plain = "社員各位\n\n社内報4月号を公開しました。\n今月の特集は「新オフィスの紹介」です。\n"
    html = ("<html><head><style>p {margin:0}</style></head><body><p>社員各位</p><p>社内報4月号を公開しました。<br>"
            "今月の特集は&laquo;新オフィスの紹介&raquo;です。</p><p>&copy; 総務部 &amp; 広報室</p></body></html>")
    multipart(m, [text_part(qp_bytes(plain.encode("utf-8")), charset="utf-8", encoding="quoted-printable"),
                  ([("Content-Type", "text/html; charset=utf-8"), ("Content-Transfer-Encoding", "quoted-printable")],
                   qp_bytes(html.encode("utf-8")))],
              kind="alternative", boundary="_000_OS0P286MB_")
    mails.append(("24-outlook-alternative.eml", m))

    # An HTML-only notice from a web service.
    m = Mail("%s <no-reply@shop.example>" % uword("ネットショップ"), uword("ご注文の商品を発送しました"),
             "Mon, 21 Apr 2025 15:00:00 +0900", "ship-77812.shop")
    html = ("<!DOCTYPE html><html><head><title>発送のお知らせ</title><script>track()</script></head><body>"
            "<table><tr><td>ご注文番号</td><td>77812</td></tr><tr><td>お届け予定</td><td>4月23日</td></tr></table>"
            "<p>配送状況は<a href=\"https://shop.example/track\">こちら</a>からご確認いただけます。</p>"
            "<img src=\"https://shop.example/pixel.gif\" width=\"1\" height=\"1\"></body></html>\n")
    m.headers.append(("Content-Type", "text/html; charset=UTF-8"))
    m.headers.append(("Content-Transfer-Encoding", "base64"))
    m.body = b64_lines(html.encode("utf-8")) + b"\n"
    mails.append(("25-html-only.eml", m))

    # Thunderbird: an attachment named in RFC 2231 form, continued over sections.
    m = Mail("%s <kimura@example.org>" % uword("木村 拓也"), uword("プレゼン資料（最終版）"),
             "Tue, 22 Apr 2025 19:45:00 +0900", "3f2a-thunderbird.kimura")
    name = "新製品発表会プレゼン資料_最終版.pdf"
    tokens = ["%%%02X" % b if b > 127 or b in b"%'*; ()" else chr(b) for b in name.encode("utf-8")]
    sections = [""]
    for token in tokens:
        if len(sections[-1]) + len(token) > 60:
            sections.append("")
        sections[-1] += token
    disposition = "attachment;\n " + ";\n ".join(
        "filename*%d*=%s%s" % (i, "UTF-8''" if i == 0 else "", part) for i, part in enumerate(sections))
    multipart(m, [text_part("アリスさん\n\n最終版の資料を添付します。ご確認ください。\n".encode("utf-8"),
                            charset="UTF-8; format=flowed", encoding="8bit"),
                  ([("Content-Type", "application/pdf"), ("Content-Transfer-Encoding", "base64"),
                    ("Content-Disposition", disposition)], b64_lines(pdf_document("Launch deck")))],
              boundary="------------0HkT5f9qRh3vX1")
    mails.append(("26-rfc2231-attachment.eml", m))

    # A Korean newsletter in EUC-KR, and a Chinese one in GB2312.
    m = Mail("%s <news@example.kr>" % uword("여행 소식", charset="EUC-KR"), uword("봄 여행 특집: 벚꽃 명소", charset="EUC-KR"),
             "Wed, 23 Apr 2025 07:00:00 +0900", "spring-2025.news.kr")
    m.text(b64_lines("안녕하세요!\n\n이번 호에서는 전국의 벚꽃 명소를 소개합니다.\n- 진해 군항제\n- 경주 보문단지\n".encode("euc-kr")),
           charset="EUC-KR", encoding="base64")
    mails.append(("27-korean-newsletter.eml", m))

    m = Mail("%s <news@example.cn>" % uword("旅行周刊", charset="GB2312"), uword("春季旅行特刊", charset="GB2312"),
             "Wed, 23 Apr 2025 09:00:00 +0800", "spring-2025.news.cn")
    m.text("您好！\n\n本期介绍各地的赏花胜地。\n".encode("gb2312"), charset="GB2312", encoding="8bit")
    mails.append(("28-chinese-newsletter.eml", m))
    return mails


def bob():
    mails = []
    m = Mail("%s <alice@example.jp>" % bword("アリス"), bword("APOP のアカウントから読んでいますか？"),
             "Mon, 14 Apr 2025 12:00:00 +0900", "apop-check.alice")
    m.headers[1] = ("To", "bob@example.jp")
    m.text(jis("ボブさん\n\nこのメールは APOP でログインするアカウントの受信箱にあります。\n"))
    mails.append(("01-apop.eml", m))

    m = Mail("%s <builder@example.jp>" % bword("工務店 木村"), bword("工事日程のご連絡"),
             "Tue, 15 Apr 2025 16:40:00 +0900", "schedule.kimura")
    m.headers[1] = ("To", "bob@example.jp")
    m.text("工事は4月22日から3日間の予定です。\nご在宅でなくても作業できます。\n".encode("cp932"), charset="Shift_JIS",
           encoding="8bit")
    mails.append(("02-schedule-sjis.eml", m))

    m = Mail("Build Bot <ci@example.org>", "[ci] build #2025 passed",
             "Wed, 16 Apr 2025 03:00:00 -0400", "build-2025.ci")
    m.headers[1] = ("To", "bob@example.jp")
    m.text(b"All 412 tests passed.\n", charset="us-ascii")
    mails.append(("03-ci-edt.eml", m))
    return mails


def write(folder, mails):
    path = os.path.join(HERE, folder)
    os.makedirs(path, exist_ok=True)
    for name in os.listdir(path):
        if name.endswith(".eml"):
            os.remove(os.path.join(path, name))
    for name, mail in mails:
        with open(os.path.join(path, name), "wb") as out:
            out.write(mail.bytes())


if __name__ == "__main__":
    write("alice", alice())
    write("bob", bob())
