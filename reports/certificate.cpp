#include "reports/certificate.h"

#include "data/number_text.h"
#include "records/record_stamp.h"
#include "records/reference_instrument.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextObjectInterface>
#include <QTextTable>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace zorm {

namespace {

// The page, in millimetres: A4 with its margins and the bands of the head
// and the foot.
constexpr double SideMarginMm = 20;
constexpr double TopMarginMm = 12;
constexpr double BottomMarginMm = 12;
constexpr double HeadMm = 14;
constexpr double FootMm = 16;
constexpr double PlotHeightMm = 62;
constexpr int Resolution = 1200;

// DejaVu embeds (TrueType) and has every Czech letter and the symbols used
// (±, ≤, ν, ², √).
const QString FontFamily = QStringLiteral("DejaVu Sans");

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

double Mm(double mm) {
    return mm * Resolution / 25.4;
}

double Pt(double points) {
    return points * Resolution / 72.0;
}

// Lengths of the document's formats (margins, borders, padding) are counted
// at 96 dpi; the layout scales them to the writer's resolution itself.
double FormatPt(double points) {
    return points * 96.0 / 72.0;
}

// Without shaping there are no ligatures: "fi" stays two letters, so that
// the text copied out of the PDF (or read by a machine) is the text written.
QFont Font(double points, bool bold = false) {
    QFont font(FontFamily);
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// A value step of 1, 2 or 5 times a power of ten that cuts `span` into about
// `count` pieces (at most a third more).
double NiceStep(double span, int count) {
    const double rough = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= 0.75 * rough) {
            return factor * power;
        }
    }
    return 10 * power;
}

// The decimals a tick of `step` needs.
int DecimalsOf(double step) {
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
}

// The deviations against the true temperature, drawn as vectors where the
// body's text shows a plot object: the points numbered as in the table, the
// band of ±U, and the tolerance where one is set.
class DeviationPlot : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    static constexpr int ObjectType = QTextFormat::UserObject + 1;

    struct Point {
        double TrueTemp = 0;
        double Deviation = 0;
    };

    DeviationPlot(std::vector<Point> points, double expanded, std::optional<double> tolerance,
                  char sep, double width)
        : points_(std::move(points)), expanded_(expanded), tolerance_(tolerance), sep_(sep),
          width_(width) {}

    QSizeF intrinsicSize(QTextDocument*, int, const QTextFormat&) override {
        return {width_, Mm(PlotHeightMm)};
    }

    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument*, int,
                    const QTextFormat&) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRectF area = rect.adjusted(Mm(16), Mm(5), -Mm(4), -Mm(11));
        double low = points_.front().TrueTemp;
        double high = low;
        double reach = std::max(expanded_, tolerance_.value_or(0));
        for (const Point& p : points_) {
            low = std::min(low, p.TrueTemp);
            high = std::max(high, p.TrueTemp);
            reach = std::max(reach, std::fabs(p.Deviation));
        }
        const double pad = high > low ? (high - low) * 0.05 : 1.0;
        low -= pad;
        high += pad;
        reach = reach > 0 ? reach * 1.15 : 0.001;
        const auto x = [&](double t) {
            return area.left() + (t - low) / (high - low) * area.width();
        };
        const auto y = [&](double d) { return area.center().y() - d / reach * area.height() / 2; };

        const QFont label = Font(7);
        painter->setFont(label);
        const QPen grid(QColor(200, 200, 200), Pt(0.4));
        const QPen text(Qt::black);
        // The grid and its numbers.
        const double xStep = NiceStep(high - low, 8);
        for (double t = std::ceil(low / xStep) * xStep; t <= high; t += xStep) {
            painter->setPen(grid);
            painter->drawLine(QPointF(x(t), area.top()), QPointF(x(t), area.bottom()));
            painter->setPen(text);
            const QString number = Q(fixed(t, 6, DecimalsOf(xStep), sep_));
            painter->drawText(QRectF(x(t) - Mm(10), area.bottom() + Mm(1), Mm(20), Mm(4)),
                              Qt::AlignHCenter | Qt::AlignTop, number);
        }
        const double yStep = NiceStep(2 * reach, 6);
        for (double d = std::ceil(-reach / yStep) * yStep; d <= reach; d += yStep) {
            painter->setPen(grid);
            painter->drawLine(QPointF(area.left(), y(d)), QPointF(area.right(), y(d)));
            painter->setPen(text);
            const QString number =
                Q(fixed(std::fabs(d) < yStep / 2 ? 0 : d, 6, DecimalsOf(yStep), sep_));
            painter->drawText(QRectF(rect.left(), y(d) - Mm(2), Mm(15), Mm(4)),
                              Qt::AlignRight | Qt::AlignVCenter, number);
        }
        painter->drawText(QRectF(area.left(), rect.bottom() - Mm(5), area.width(), Mm(5)),
                          Qt::AlignHCenter | Qt::AlignBottom,
                          QStringLiteral("skutečná teplota [°C]"));
        painter->drawText(QRectF(rect.left(), rect.top(), area.width(), Mm(4)),
                          Qt::AlignLeft | Qt::AlignTop,
                          QStringLiteral("odchylka (vypočtená − skutečná) [°C]"));

        // The limits: ±U dashed, the tolerance dash-dotted, zero solid.
        const auto limit = [&](double d, const QPen& pen) {
            painter->setPen(pen);
            painter->drawLine(QPointF(area.left(), y(d)), QPointF(area.right(), y(d)));
        };
        const QPen band(QColor(30, 90, 200), Pt(0.7), Qt::DashLine);
        const QPen tolerance(QColor(200, 30, 30), Pt(0.7), Qt::DashDotLine);
        limit(expanded_, band);
        limit(-expanded_, band);
        if (tolerance_) {
            limit(*tolerance_, tolerance);
            limit(-*tolerance_, tolerance);
        }
        limit(0, QPen(Qt::black, Pt(0.5)));
        painter->setPen(QPen(Qt::black, Pt(0.8)));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(area);

        // The points and their numbers.
        painter->setBrush(Qt::black);
        const double dot = Pt(1.6);
        for (std::size_t k = 0; k < points_.size(); ++k) {
            const QPointF at(x(points_[k].TrueTemp), y(points_[k].Deviation));
            painter->setPen(Qt::NoPen);
            painter->drawEllipse(at, dot, dot);
            painter->setPen(text);
            const bool above = points_[k].Deviation >= 0;
            painter->drawText(
                QRectF(at.x() - Mm(4), above ? at.y() - Mm(4) : at.y() + Pt(2), Mm(8), Mm(3.5)),
                Qt::AlignHCenter | (above ? Qt::AlignBottom : Qt::AlignTop),
                QString::number(k + 1));
        }

        // A legend of the lines, above the frame at its right.
        std::vector<std::pair<QPen, QString>> legend = {{band, QStringLiteral("±U")}};
        if (tolerance_) {
            legend.emplace_back(tolerance, QStringLiteral("±tolerance"));
        }
        double right = area.right();
        for (auto entry = legend.rbegin(); entry != legend.rend(); ++entry) {
            const double width =
                QFontMetricsF(label, painter->device()).horizontalAdvance(entry->second);
            painter->setPen(text);
            painter->drawText(QRectF(right - width, rect.top(), width, Mm(4)),
                              Qt::AlignRight | Qt::AlignTop, entry->second);
            right -= width + Mm(1.5);
            painter->setPen(entry->first);
            const double middle = rect.top() + Mm(1.8);
            painter->drawLine(QPointF(right - Mm(8), middle), QPointF(right, middle));
            right -= Mm(8) + Mm(5);
        }
        painter->restore();
    }

private:
    std::vector<Point> points_;
    double expanded_;
    std::optional<double> tolerance_;
    char sep_;
    double width_;
};

// The body, built with a cursor (no markup: every text goes in as it is).
class Body {
public:
    explicit Body(QTextDocument& document) : document_(document), cursor_(&document) {}

    void Title(const QString& title, const QString& number) {
        Block(Font(18, true), title, Qt::AlignHCenter, 0);
        Block(Font(12, true), QStringLiteral("č. ") + number, Qt::AlignHCenter, FormatPt(2));
    }

    // A heading stays on the page of what follows it (KeepHeadingsWithContent).
    void Heading(const QString& text) {
        Block(Font(11, true), text, Qt::AlignLeft, FormatPt(12));
        heading_ = cursor_.block();
    }

    void Paragraph(const QString& text, double points = 9) {
        Block(Font(points), text, Qt::AlignLeft, FormatPt(4));
        Follows(cursor_.block());
    }

    // Label and value rows without lines.
    void Fields(const std::vector<std::pair<QString, QString>>& rows) {
        QTextTableFormat format = TableFormat(0);
        format.setColumnWidthConstraints({QTextLength(QTextLength::PercentageLength, 24),
                                          QTextLength(QTextLength::PercentageLength, 76)});
        format.setHeaderRowCount(0);
        QTextTable* table = Table(static_cast<int>(rows.size()), 2, format);
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            Cell(table, row, 0, rows[row].first, Font(9, true), Qt::AlignLeft);
            Cell(table, row, 1, rows[row].second, Font(9), Qt::AlignLeft);
        }
        Follows(table->cellAt(0, 0).firstCursorPosition().block());
        cursor_.movePosition(QTextCursor::End);
    }

    // A table with lines and a head row that repeats on every page; numbers
    // right, the first column (the points' numbers) left where `numbered`.
    void Grid(const QStringList& head, const std::vector<QStringList>& rows,
              const std::vector<double>& widths = {}, bool numbered = true) {
        QTextTableFormat format = TableFormat(FormatPt(0.5));
        QList<QTextLength> constraints;
        for (const double width : widths) {
            constraints.append(QTextLength(QTextLength::PercentageLength, width));
        }
        format.setColumnWidthConstraints(constraints);
        QTextTable* table =
            Table(static_cast<int>(rows.size()) + 1, static_cast<int>(head.size()), format);
        QTextTableCellFormat shade;
        shade.setBackground(QColor(235, 235, 235));
        for (int column = 0; column < head.size(); ++column) {
            table->cellAt(0, column).setFormat(shade);
            Cell(table, 0, column, head[column], Font(8, true), Qt::AlignHCenter);
        }
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            for (int column = 0; column < rows[row].size(); ++column) {
                Cell(table, row + 1, column, rows[row][column], Font(8.5),
                     numbered && column == 0 ? Qt::AlignLeft : Qt::AlignRight);
            }
        }
        // The head with at least the first row.
        Follows(table->cellAt(rows.empty() ? 0 : 1, 0).firstCursorPosition().block());
        cursor_.movePosition(QTextCursor::End);
    }

    void Object(QObject* handler, int type) {
        document_.documentLayout()->registerHandler(type, handler);
        Block(Font(9), QString(), Qt::AlignLeft, FormatPt(4));
        QTextCharFormat object;
        object.setObjectType(type);
        cursor_.insertText(QString(QChar::ObjectReplacementCharacter), object);
        Follows(cursor_.block());
    }

    // Moves each heading that would end a page without what follows it to
    // the next page, laying the document out again after each move.
    void KeepHeadingsWithContent(double pageHeight) {
        QAbstractTextDocumentLayout* layout = document_.documentLayout();
        const auto page = [pageHeight](double y) { return static_cast<int>(y / pageHeight); };
        for (const auto& [heading, content] : kept_) {
            const QRectF head = layout->blockBoundingRect(heading);
            const QRectF first = layout->blockBoundingRect(content);
            if (page(head.top()) < page(first.bottom() - 1)) {
                QTextCursor at(heading);
                QTextBlockFormat format = heading.blockFormat();
                format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                at.setBlockFormat(format);
            }
        }
    }

private:
    // A paragraph. The first one takes the document's first block; the
    // empty block that follows a table stays, as a hairline of space.
    void Block(const QFont& font, const QString& text, Qt::Alignment alignment, double above) {
        QTextBlockFormat block;
        block.setAlignment(alignment);
        block.setTopMargin(above);
        if (cursor_.position() == 0) {
            cursor_.setBlockFormat(block);
        } else {
            if (cursor_.block().text().isEmpty()) {
                cursor_.setBlockCharFormat(Format(Font(1)));
            }
            cursor_.insertBlock(block);
        }
        cursor_.insertText(text, Format(font));
    }

    static QTextCharFormat Format(const QFont& font) {
        QTextCharFormat format;
        format.setFont(font);
        format.setForeground(Qt::black);
        return format;
    }

    void Follows(const QTextBlock& content) {
        if (heading_.isValid()) {
            kept_.emplace_back(heading_, content);
            heading_ = QTextBlock();
        }
    }

    static QTextTableFormat TableFormat(double border) {
        QTextTableFormat format;
        format.setBorder(border);
        format.setBorderStyle(border > 0 ? QTextFrameFormat::BorderStyle_Solid
                                         : QTextFrameFormat::BorderStyle_None);
        format.setBorderBrush(Qt::black);
        format.setBorderCollapse(true);
        format.setCellSpacing(0);
        format.setCellPadding(FormatPt(2));
        format.setTopMargin(FormatPt(4));
        format.setHeaderRowCount(1);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        return format;
    }

    QTextTable* Table(int rows, int columns, const QTextTableFormat& format) {
        return cursor_.insertTable(rows, columns, format);
    }

    static void Cell(QTextTable* table, int row, int column, const QString& text, const QFont& font,
                     Qt::Alignment alignment) {
        QTextCursor cell = table->cellAt(row, column).firstCursorPosition();
        QTextBlockFormat block;
        block.setAlignment(alignment);
        cell.setBlockFormat(block);
        cell.insertText(text, Format(font));
    }

    QTextDocument& document_;
    QTextCursor cursor_;
    QTextBlock heading_;
    std::vector<std::pair<QTextBlock, QTextBlock>> kept_;
};

QString Temperature(double t, char sep) {
    return Q(fixed(t, 6, 3, sep));
}

QString Deviation(const std::optional<double>& d, char sep) {
    return d ? Q(fixed(*d, 6, 4, sep)) : QStringLiteral("—");
}

void BuildBody(Body& body, const CertificateInput& input, const CertificateFigures& figures,
               DeviationPlot& plot) {
    const CalibrationRecord& r = input.Record.Latest;
    const char sep = input.Separator;
    body.Title(QString::fromUtf8(CertificateTitle).toUpper(), Q(input.Number));

    QStringList laboratory;
    for (const std::string& line : LaboratoryLines(input.Laboratory)) {
        laboratory.append(Q(line));
    }
    std::vector<std::pair<QString, QString>> fields = {
        {QStringLiteral("Kalibrační laboratoř"),
         laboratory.isEmpty() ? Q(NotStated) : laboratory.join(QStringLiteral("\n"))},
        {QStringLiteral("Datum kalibrace"),
         Q(CzechDateText(LocalDate(r.TimeUtcMs, r.UtcOffsetSeconds)))},
        {QStringLiteral("Datum vystavení"), Q(CzechDateText(input.Issued))},
        {QStringLiteral("Předmět kalibrace"),
         QStringLiteral("převodník teploty ") + Q(r.ConverterType)},
        {QStringLiteral("Označení převodníku"), Q(r.Tag.value_or(NotStated))},
        {QStringLiteral("Adresa a port"),
         QStringLiteral("adresa %1, port COM%2").arg(r.Address).arg(r.Port)},
        {QStringLiteral("Kalibrovaný snímač"), QStringLiteral("snímač %1").arg(r.Sensor)},
        {QStringLiteral("Metoda kalibrace"), Q(MethodText(static_cast<int>(r.Points.size())))},
        {QStringLiteral("Referenční přístroj"), Q(ReferenceText(r, sep))},
    };
    const std::string environment = EnvironmentText(r, sep);
    if (!environment.empty()) {
        fields.push_back({QStringLiteral("Podmínky prostředí"), Q(environment)});
    }
    fields.push_back({QStringLiteral("Kalibraci provedl"), Q(r.Operator)});
    fields.push_back(
        {QStringLiteral("Záznam kalibrace"), Q(r.Uuid) + QStringLiteral(" (stanice ") +
                                                 Q(r.Station) + QStringLiteral(", program ") +
                                                 Q(r.ProgramVersion) + QStringLiteral(")")});
    body.Fields(fields);

    body.Heading(QStringLiteral("Výsledky kalibrace"));
    const bool judged = figures.Judged.has_value();
    QStringList head = {QStringLiteral("Bod"), QStringLiteral("Skutečná teplota [°C]"),
                        QStringLiteral("Měřená hodnota [bit]"),
                        QStringLiteral("Vypočtená teplota [°C]"), QStringLiteral("Odchylka [°C]")};
    if (judged) {
        head.append(QStringLiteral("Shoda"));
    }
    std::vector<QStringList> rows;
    for (std::size_t k = 0; k < r.Points.size(); ++k) {
        const RecordPoint& p = r.Points[k];
        QStringList row = {QString::number(k + 1), Temperature(p.TrueTemp, sep),
                           QString::number(p.Raw), Temperature(*p.Fitted, sep),
                           Deviation(p.Deviation, sep)};
        if (judged) {
            row.append(figures.Judged->Points[k] ? QStringLiteral("vyhovuje")
                                                 : QStringLiteral("nevyhovuje"));
        }
        rows.push_back(row);
    }
    body.Grid(head, rows,
              judged ? std::vector<double>{8, 19, 19, 20, 17, 17}
                     : std::vector<double>{10, 22, 22, 24, 22});
    body.Paragraph(QStringLiteral("Odchylka = vypočtená − skutečná teplota; vypočtená teplota "
                                  "je hodnota kalibračního polynomu pro měřenou hodnotu."),
                   7.5);

    body.Heading(QStringLiteral("Odchylky v kalibrovaném rozsahu"));
    body.Object(&plot, DeviationPlot::ObjectType);

    body.Heading(QStringLiteral("Nejistota měření"));
    body.Paragraph(Q(UncertaintyStatement(r, figures, sep)));
    body.Paragraph(QStringLiteral("u_fit(x) = s·√(vᵀ(XᵀX)⁻¹v), v = (1, x, x², x³), X matice "
                                  "měřených hodnot bodů; u_c² = (U_ref/2)² + u_fit²; "
                                  "U = 2·u_c, zaokrouhleno nahoru na dvě platné číslice."),
                   7.5);
    if (figures.Judged) {
        body.Heading(QStringLiteral("Posouzení shody"));
        body.Paragraph(Q(ConformityStatement(*figures.Judged, figures.Uncertainty.Stated, sep)));
    }

    body.Heading(QStringLiteral("Koeficienty kalibračního polynomu"));
    body.Paragraph(QStringLiteral("t = A3·x³ + A2·x² + A1·x + A0, x je měřená hodnota [bit], "
                                  "t teplota [°C]"));
    const std::array<std::pair<const char*, double>, 4> coefficients = {
        {{"A3", r.AsLeft.A3}, {"A2", r.AsLeft.A2}, {"A1", r.AsLeft.A1}, {"A0", r.AsLeft.A0}}};
    QStringList coefficientHead;
    QStringList eight;
    QString full;
    for (const auto& [name, value] : coefficients) {
        coefficientHead.append(QString::fromLatin1(name));
        eight.append(Q(general(value, 8, sep)));
        full += (full.isEmpty() ? QString() : QStringLiteral(";  ")) + QString::fromLatin1(name) +
                QStringLiteral(" = ") + Q(general(value, 17, sep));
    }
    body.Grid(coefficientHead, {eight}, {}, false);
    body.Paragraph(QStringLiteral("Na 17 platných číslic: ") + full, 7);

    if (r.AsFoundInForce) {
        body.Heading(QStringLiteral("Stav před kalibrací (podle předchozí kalibrace)"));
        std::vector<QStringList> found;
        for (std::size_t k = 0; k < r.Points.size(); ++k) {
            const RecordPoint& p = r.Points[k];
            const std::optional<double> old = FittedTemperature(r.AsFound, p.Raw);
            found.push_back(
                {QString::number(k + 1), Temperature(p.TrueTemp, sep), QString::number(p.Raw),
                 old ? Temperature(*old, sep) : QStringLiteral("—"),
                 Deviation(p.AsFoundDeviation ? std::optional(-*p.AsFoundDeviation) : std::nullopt,
                           sep)});
        }
        body.Grid({QStringLiteral("Bod"), QStringLiteral("Skutečná teplota [°C]"),
                   QStringLiteral("Měřená hodnota [bit]"),
                   QStringLiteral("Teplota podle předchozí kalibrace [°C]"),
                   QStringLiteral("Odchylka [°C]")},
                  found, {10, 22, 22, 24, 22});
    }

    body.Heading(QStringLiteral("Podpisy"));
    body.Fields({{QStringLiteral("Kalibraci provedl"), Q(r.Operator)},
                 // The label on the line of the dots, space above it to sign.
                 {QStringLiteral("\n\nSchválil"),
                  QStringLiteral("\n\n……………………………………………………\njméno a podpis osoby "
                                 "oprávněné schválit kalibrační list")}});
}

// Paints the page's head and foot.
void PaintBands(QPainter& painter, const QRectF& page, const QString& laboratory,
                const QString& number, int pageNumber, int pages) {
    painter.save();
    painter.setPen(QPen(Qt::black, Pt(0.5)));
    const double left = Mm(SideMarginMm);
    const double width = page.width() - 2 * Mm(SideMarginMm);
    const QRectF head(left, Mm(TopMarginMm), width, Mm(HeadMm) - Mm(3));
    const QRectF foot(left, page.height() - Mm(BottomMarginMm) - Mm(FootMm) + Mm(3), width,
                      Mm(FootMm) - Mm(3));
    painter.drawLine(QPointF(left, head.bottom()), QPointF(left + width, head.bottom()));
    painter.drawLine(QPointF(left, foot.top()), QPointF(left + width, foot.top()));

    painter.setFont(Font(8.5, true));
    const QString title = QString::fromUtf8(CertificateTitle) + QStringLiteral(" č. ") + number;
    const double titleWidth =
        QFontMetricsF(painter.font(), painter.device()).horizontalAdvance(title);
    painter.drawText(head, Qt::AlignRight | Qt::AlignBottom, title);
    painter.setFont(Font(8.5));
    const QFontMetricsF metrics(painter.font(), painter.device());
    painter.drawText(head.adjusted(0, 0, -titleWidth - Mm(5), 0), Qt::AlignLeft | Qt::AlignBottom,
                     metrics.elidedText(laboratory, Qt::ElideRight, width - titleWidth - Mm(5)));

    painter.setFont(Font(7));
    const QString pageText = QStringLiteral("strana %1 z %2").arg(pageNumber).arg(pages);
    const double pageWidth =
        QFontMetricsF(painter.font(), painter.device()).horizontalAdvance(pageText);
    painter.drawText(foot.adjusted(0, Mm(1), 0, 0), Qt::AlignRight | Qt::AlignTop, pageText);
    painter.drawText(foot.adjusted(0, Mm(1), -pageWidth - Mm(8), 0),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     QString::fromUtf8(ReproductionNote));
    painter.restore();
}

} // namespace

QString CertificateJsonPath(const QString& pdfPath) {
    const QFileInfo pdf(pdfPath);
    return pdf.dir().filePath(pdf.completeBaseName() + QStringLiteral(".json"));
}

CertificateInput CertificateIssuedToday(RecordDetails record, std::string number, char separator) {
    CertificateInput input;
    input.Record = std::move(record);
    input.Laboratory = LoadContact();
    input.Settings = LoadStationSettings();
    input.Issued = LocalToday();
    input.Number = std::move(number);
    input.Separator = separator;
    return input;
}

QString CertificateFileName(const std::string& number) {
    QString name = QStringLiteral("Kalibracni_list_") + Q(number);
    for (QChar& c : name) {
        if (QStringLiteral("/\\:*?\"<>| ").contains(c) || c.unicode() < 32) {
            c = QLatin1Char('_');
        }
    }
    return name + QStringLiteral(".pdf");
}

QString WriteCertificate(const CertificateInput& input, const QString& pdfPath) {
    const auto figuresOrWhy = FiguresOf(input.Record.Latest, input.Settings.Tolerance);
    if (const auto* why = std::get_if<std::string>(&figuresOrWhy)) {
        return Q(*why);
    }
    const CertificateFigures& figures = std::get<CertificateFigures>(figuresOrWhy);
    const CalibrationRecord& r = input.Record.Latest;
    const QString failed = QStringLiteral("Kalibrační list nelze zapsat do souboru %1: %2");

    QSaveFile pdfFile(pdfPath);
    if (!pdfFile.open(QIODevice::WriteOnly)) {
        return failed.arg(pdfPath, pdfFile.errorString());
    }
    {
        QPdfWriter writer(&pdfFile);
        writer.setResolution(Resolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
        writer.setTitle(QString::fromUtf8(CertificateTitle) + QStringLiteral(" ") +
                        Q(input.Number));
        writer.setCreator(QStringLiteral("ZORM5816A – servisní a kalibrační program"));
        const QRectF page(0, 0, writer.width(), writer.height());
        const QRectF body(Mm(SideMarginMm), Mm(TopMarginMm + HeadMm),
                          page.width() - 2 * Mm(SideMarginMm),
                          page.height() - Mm(TopMarginMm + HeadMm + FootMm + BottomMarginMm));

        QTextDocument document;
        document.documentLayout()->setPaintDevice(&writer);
        document.setDefaultFont(Font(9));
        document.setDocumentMargin(0);
        document.setPageSize(body.size());
        std::vector<DeviationPlot::Point> points;
        for (const RecordPoint& p : r.Points) {
            points.push_back({p.TrueTemp, *p.Deviation});
        }
        DeviationPlot plot(std::move(points), figures.Uncertainty.Stated,
                           figures.Judged ? std::optional(figures.Judged->Tolerance) : std::nullopt,
                           input.Separator, body.width());
        Body builder(document);
        BuildBody(builder, input, figures, plot);
        builder.KeepHeadingsWithContent(body.height());

        const std::vector<std::string> lines = LaboratoryLines(input.Laboratory);
        const QString laboratory = lines.empty() ? Q(NotStated) : Q(lines.front());
        const int pages = document.pageCount();
        QPainter painter;
        if (!painter.begin(&writer)) {
            return failed.arg(pdfPath, QStringLiteral("PDF nelze začít psát"));
        }
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette.setColor(QPalette::Text, Qt::black);
        for (int p = 0; p < pages; ++p) {
            if (p > 0) {
                writer.newPage();
            }
            PaintBands(painter, page, laboratory, Q(input.Number), p + 1, pages);
            painter.save();
            painter.translate(body.left(), body.top() - p * body.height());
            context.clip = QRectF(0, p * body.height(), body.width(), body.height());
            painter.setClipRect(context.clip);
            document.documentLayout()->draw(&painter, context);
            painter.restore();
        }
        if (!painter.end()) {
            return failed.arg(pdfPath, QStringLiteral("PDF nelze dokončit"));
        }
    }
    if (!pdfFile.commit()) {
        return failed.arg(pdfPath, pdfFile.errorString());
    }

    const QString jsonPath = CertificateJsonPath(pdfPath);
    QSaveFile jsonFile(jsonPath);
    const std::string json = CertificateJson(input, figures);
    if (!jsonFile.open(QIODevice::WriteOnly) ||
        jsonFile.write(json.data(), static_cast<qint64>(json.size())) !=
            static_cast<qint64>(json.size()) ||
        !jsonFile.commit()) {
        const QString why = jsonFile.errorString();
        QFile::remove(pdfPath);
        return failed.arg(jsonPath, why);
    }
    return {};
}

} // namespace zorm

#include "certificate.moc"
