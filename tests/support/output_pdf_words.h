#pragma once

// Reads the words of a PDF page back with pdftotext -bbox (poppler-utils), in points from the
// top-left corner of the page.

#include "output_print_fixture.h"

#include <QPointF>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cmath>
#include <vector>

struct PdfWord {
    QString text;
    double xMin;
    double yMin;
    int page;
};

// The words of every page, or an empty list with `error` set.
inline std::vector<PdfWord> pdfWords(const QString& pdf, QString* error) {
    std::vector<PdfWord> words;
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("pdftotext failed: ") + p.errorString() +
                 QString::fromLocal8Bit(p.readAllStandardError());
        return words;
    }
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    static const QRegularExpression pageRe(
        QStringLiteral("<page |<word xMin=\"([-0-9.]+)\" "
                       "yMin=\"([-0-9.]+)\"[^>]*>([^<]*)</word>"));
    int page = 0;
    for (auto it = pageRe.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(0).startsWith(u"<page")) {
            ++page;
            continue;
        }
        QString text = m.captured(3);
        text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
        text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
        text.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
        words.push_back({text, m.captured(1).toDouble(), m.captured(2).toDouble(), page});
    }
    return words;
}

// The font names a PDF embeds, as pdffonts lists them.
inline QString pdfFonts(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdffonts"), {pdf});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Checks that each expected item's first word stands at X/20, Y/20 points (plus the printable
// area's corner), and that nothing else was printed.
inline void verifyPositions(const std::vector<PdfWord>& words,
                            const std::vector<Expected>& expected, double top,
                            QPointF origin = {}) {
    qsizetype expectedWords = 0;
    for (const Expected& e : expected) {
        const QStringList parts = e.text.split(u' ', Qt::SkipEmptyParts);
        expectedWords += parts.size();
        const double x = origin.x() + e.x / 20.0;
        const double y = origin.y() + (top + e.row) / 20.0;
        const auto found = std::find_if(words.begin(), words.end(), [&](const PdfWord& w) {
            return w.text == parts.first() && std::abs(w.xMin - x) <= 0.5 &&
                   std::abs(w.yMin - y) <= 0.5;
        });
        if (found == words.end()) {
            QString near;
            for (const PdfWord& w : words) {
                if (w.text == parts.first())
                    near += QStringLiteral(" (%1, %2)").arg(w.xMin).arg(w.yMin);
            }
            QFAIL(qPrintable(QStringLiteral("\"%1\" not at (%2, %3); found at%4")
                                 .arg(parts.first())
                                 .arg(x)
                                 .arg(y)
                                 .arg(near)));
        }
    }
    QCOMPARE(qsizetype(words.size()), expectedWords);
}
