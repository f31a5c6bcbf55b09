// The calibration certificate read back the way its reader gets it: the PDF
// through poppler's pdftotext, pdfinfo and pdffonts (every field, "strana x
// z y" on every page, A4, title, embedded fonts), the JSON parsed back, the
// figures at the edge of the conformity rule, and the records and files a
// certificate cannot be made of or written to.
#include "data/number_text.h"
#include "records/reference_instrument.h"
#include "reports/certificate.h"
#include "tests/reports/known_record.h"
#include "tests/support/program_output.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace zorm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using test::KnownRecord;

// A program's standard output.
std::string Output(const std::string& command) {
    const auto [status, output] = test::FinishProgram(::popen(command.c_str(), "r"));
    EXPECT_EQ(status, 0) << command;
    return output;
}

// The text of the PDF (or of one page) with every run of blanks and line
// breaks made one blank, so that wrapped sentences read whole.
std::string Flowing(const fs::path& pdf, int page = 0) {
    const std::string pages =
        page > 0 ? " -f " + std::to_string(page) + " -l " + std::to_string(page) : std::string();
    const std::string text = Output("pdftotext -enc UTF-8" + pages + " '" + pdf.string() + "' -");
    return std::regex_replace(text, std::regex("\\s+"), " ");
}

int Pages(const fs::path& pdf) {
    std::smatch found;
    const std::string info = Output("pdfinfo '" + pdf.string() + "'");
    EXPECT_TRUE(std::regex_search(info, found, std::regex("Pages:\\s+(\\d+)")));
    return found.empty() ? 0 : std::stoi(found[1]);
}

std::string T(double t, char sep = ',') {
    return fixed(t, 6, 3, sep);
}

class Certificate : public ::testing::Test {
protected:
    test::ScratchDirectory scratch_;
    fs::path pdf_ = scratch_.Path() / "list.pdf";

    void Write(const CertificateInput& input) {
        ASSERT_EQ(WriteCertificate(input, QString::fromStdString(pdf_.string())), QString());
    }
    QJsonObject Json() const {
        std::ifstream in(scratch_.Path() / "list.json", std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    }
};

TEST_F(Certificate, HoldsEveryFieldOnNumberedA4PagesWithEmbeddedFonts) {
    const CertificateInput input = test::CertificateOf(KnownRecord(12, false));
    Write(input);
    const CalibrationRecord& r = input.Record.Latest;
    const auto figures = std::get<CertificateFigures>(FiguresOf(r, 0.1));
    const std::string text = Flowing(pdf_);
    const std::string fields[] = {
        "KALIBRAČNÍ LIST",
        "č. kalibrace-1/00007",
        "Kalibrační laboratoř Teplo s.r.o.",
        "Průmyslová 12",
        "612 00 Brno",
        "tel. +420 541 000 111, e-mail lab@teplo.example.cz, www.teplo.example.cz",
        "Datum kalibrace 1. 3. 2024",
        "Datum vystavení 4. 3. 2024",
        "převodník teploty ZORM5816A",
        "Označení převodníku TT-101",
        "adresa 1, port COM3",
        "snímač 2",
        MethodText(12),
        "Pt100 etalon, výrobní číslo SN-4711, kalibrační list K-2023/117 ze dne 1. 3. 2023 platný "
        "do 1. 3. 2025, U = 0,02 °C (k = 2)",
        "teplota okolí 23,1 °C, relativní vlhkost 41 %",
        "Rozšířená nejistota měření U = " + UncertaintyText(figures.Uncertainty.Stated, ',') +
            " °C (koeficient rozšíření k = 2",
        "s = " + general(*figures.Uncertainty.S, 3, ',') + " °C (8 stupňů volnosti",
        "u_c² = (U_ref/2)² + u_fit²",
        "tolerancí ±0,1 °C podle pravidla jednoduchého přijetí: bod vyhovuje, je-li |odchylka| "
        "+ U ≤ tolerance",
        "Výsledek: vyhovuje",
        "Odchylky v kalibrovaném rozsahu",
        "skutečná teplota [°C]",
        "A3 = " + general(r.AsLeft.A3, 17, ','),
        "A0 = " + general(r.AsLeft.A0, 17, ','),
        "Kalibraci provedl Jana Nováková",
        "Schválil",
        "jméno a podpis osoby oprávněné schválit kalibrační list",
        ReproductionNote,
        "0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b",
    };
    for (const std::string& field : fields) {
        EXPECT_NE(text.find(field), std::string::npos) << field;
    }
    EXPECT_EQ(text.find("Stav před kalibrací"), std::string::npos);
    for (const double a : {r.AsLeft.A3, r.AsLeft.A2, r.AsLeft.A1, r.AsLeft.A0}) {
        EXPECT_NE(text.find(general(a, 8, ',') + " "), std::string::npos) << general(a, 8, ',');
    }
    // Each point's row: number, true, raw, fitted, deviation, verdict.
    for (std::size_t k = 0; k < r.Points.size(); ++k) {
        const RecordPoint& p = r.Points[k];
        const std::string row = std::to_string(k + 1) + " " + T(p.TrueTemp) + " " +
                                std::to_string(p.Raw) + " " + T(*p.Fitted) + " " +
                                fixed(*p.Deviation, 6, 4, ',') + " vyhovuje";
        EXPECT_NE(text.find(row), std::string::npos) << row;
    }

    const int pages = Pages(pdf_);
    ASSERT_GE(pages, 1);
    for (int page = 1; page <= pages; ++page) {
        const std::string one = Flowing(pdf_, page);
        EXPECT_NE(one.find("strana " + std::to_string(page) + " z " + std::to_string(pages)),
                  std::string::npos)
            << page;
        EXPECT_NE(one.find("Kalibrační list č. kalibrace-1/00007"), std::string::npos) << page;
    }
    const std::string info = Output("pdfinfo '" + pdf_.string() + "'");
    EXPECT_TRUE(std::regex_search(info, std::regex("Title: +Kalibrační list kalibrace-1/00007\n")))
        << info;
    EXPECT_TRUE(std::regex_search(info, std::regex("Creator: +ZORM5816A"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex("Page size: +59[45].* x 84[12].* \\(A4\\)")))
        << info;

    // Every font embedded: the "emb" column says yes on each font's line.
    std::istringstream fonts(Output("pdffonts '" + pdf_.string() + "'"));
    std::string line;
    std::getline(fonts, line);
    std::getline(fonts, line); // the head and its rule
    int count = 0;
    for (; std::getline(fonts, line); ++count) {
        EXPECT_TRUE(std::regex_search(line, std::regex("DejaVu.* yes +(yes|no) +(yes|no)")))
            << line;
    }
    EXPECT_GT(count, 0);
}

// 29 points and the table before the calibration do not fit one page: the
// tables go on over the pages with their head row, and each page says which
// of how many it is.
TEST_F(Certificate, TwentyNinePointsAndTheAsFoundTableRunOverNumberedPages) {
    const CertificateInput input = test::CertificateOf(KnownRecord(29, true, 5));
    Write(input);
    const int pages = Pages(pdf_);
    EXPECT_GE(pages, 2);
    const std::string all = Flowing(pdf_);
    EXPECT_NE(all.find("Stav před kalibrací"), std::string::npos);
    for (const RecordPoint& p : input.Record.Latest.Points) {
        const std::string found = std::to_string(p.Raw) + " " +
                                  T(*FittedTemperature(input.Record.Latest.AsFound, p.Raw)) + " " +
                                  fixed(-*p.AsFoundDeviation, 6, 4, ',');
        EXPECT_NE(all.find(found), std::string::npos) << found;
    }
    int withRows = 0;
    for (int page = 1; page <= pages; ++page) {
        const std::string one = Flowing(pdf_, page);
        const std::regex numbered("strana (\\d+) z (\\d+)");
        std::smatch said;
        ASSERT_TRUE(std::regex_search(one, said, numbered)) << page;
        EXPECT_EQ(said[1], std::to_string(page));
        EXPECT_EQ(said[2], std::to_string(pages));
        EXPECT_FALSE(std::regex_search(said.suffix().first, one.cend(), numbered)) << page;
        bool hasRow = false;
        for (const RecordPoint& p : input.Record.Latest.Points) {
            hasRow = hasRow || one.find(" " + std::to_string(p.Raw) + " ") != std::string::npos;
        }
        if (hasRow) {
            ++withRows;
            EXPECT_NE(one.find("Měřená hodnota [bit]"), std::string::npos) << page;
        }
    }
    EXPECT_GE(withRows, 2);
}

TEST_F(Certificate, TheJsonBesideItHoldsTheSameValues) {
    const CertificateInput input = test::CertificateOf(KnownRecord(9, true, 3));
    Write(input);
    const CalibrationRecord& r = input.Record.Latest;
    const auto figures = std::get<CertificateFigures>(FiguresOf(r, 0.1));
    const QJsonObject json = Json();
    EXPECT_EQ(json["format"].toString(), "zorm5816-certificate");
    EXPECT_EQ(json["number"].toString(), "kalibrace-1/00007");
    EXPECT_EQ(json["issued"].toString(), "2024-03-04");
    EXPECT_EQ(json["calibrated"].toString(), "2024-03-01");
    EXPECT_EQ(json["record_uuid"].toString().toStdString(), r.Uuid);
    EXPECT_EQ(json["laboratory"]["town"].toString(), "612 00 Brno");
    EXPECT_EQ(json["item"]["tag"].toString(), "TT-101");
    EXPECT_EQ(json["item"]["sensor"].toInt(), 2);
    EXPECT_EQ(json["method"]["n"].toInt(), 9);
    EXPECT_EQ(json["reference"]["due"].toString(), "2025-03-01");
    EXPECT_EQ(json["reference"]["expanded_uncertainty"].toDouble(), 0.02);
    EXPECT_EQ(json["environment"]["ambient_temperature"].toDouble(), 23.1);
    const QJsonArray points = json["points"].toArray();
    const QJsonArray found = json["as_found"]["points"].toArray();
    ASSERT_EQ(points.size(), 9);
    ASSERT_EQ(found.size(), 9);
    for (int k = 0; k < 9; ++k) {
        const RecordPoint& p = r.Points[k];
        EXPECT_EQ(points[k]["raw"].toInt(), p.Raw);
        EXPECT_EQ(points[k]["true_temp"].toDouble(), p.TrueTemp);
        EXPECT_EQ(points[k]["fitted"].toDouble(), *p.Fitted);
        EXPECT_EQ(points[k]["deviation"].toDouble(), *p.Deviation);
        EXPECT_EQ(points[k]["conforms"].toBool(), figures.Judged->Points[k]);
        EXPECT_EQ(found[k]["deviation"].toDouble(), -*p.AsFoundDeviation);
        EXPECT_EQ(found[k]["indicated"].toDouble(), *FittedTemperature(r.AsFound, p.Raw));
    }
    const QJsonArray bits = json["coefficients"]["bits"].toArray();
    const double a[] = {r.AsLeft.A3, r.AsLeft.A2, r.AsLeft.A1, r.AsLeft.A0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bits[i].toString().toULongLong(nullptr, 16), std::bit_cast<std::uint64_t>(a[i]));
    }
    const QJsonObject u = json["uncertainty"].toObject();
    EXPECT_EQ(u["expanded"].toDouble(), figures.Uncertainty.Stated);
    EXPECT_EQ(u["s"].toDouble(), *figures.Uncertainty.S);
    EXPECT_EQ(u["degrees_of_freedom"].toInt(), 5);
    EXPECT_EQ(u["coverage_factor"].toInt(), 2);
    EXPECT_EQ(json["conformity"]["conforms"].toBool(), figures.Judged->Conforms);
    EXPECT_EQ(json["operator"].toString(), "Jana Nováková");
}

// With four points the fit says nothing of its scatter: no s, and U is the
// reference's (0.02 rounded up to two digits).
TEST_F(Certificate, FourPointsStateTheReferencesContributionAlone) {
    CertificateInput input = test::CertificateOf(KnownRecord(4, false), '.');
    input.Settings.Tolerance.reset();
    input.Record.Latest.AmbientHumidity.reset();
    input.Record.Latest.AmbientTemperature.reset();
    Write(input);
    const std::string text = Flowing(pdf_);
    EXPECT_NE(text.find("U = 0.020 °C"), std::string::npos);
    EXPECT_NE(text.find("Ze čtyř bodů nelze stanovit směrodatnou odchylku proložení"),
              std::string::npos);
    EXPECT_EQ(text.find("Posouzení shody"), std::string::npos);
    EXPECT_EQ(text.find("Podmínky prostředí"), std::string::npos);
    const QJsonObject json = Json();
    EXPECT_TRUE(json["uncertainty"]["s"].isNull());
    EXPECT_EQ(json["uncertainty"]["degrees_of_freedom"].toInt(), 0);
    EXPECT_TRUE(json["conformity"].isNull());
    EXPECT_TRUE(json["as_found"].isNull());
}

// A point conforms while |deviation| + U reaches the tolerance, the
// deviation taken as printed (four decimals), and no longer above it.
TEST(CertificateFigures, ConformityAtTheEdgeOfTheTolerance) {
    const CalibrationRecord r = KnownRecord(10, false, 7).Latest;
    const double u = std::get<CertificateFigures>(FiguresOf(r, std::nullopt)).Uncertainty.Stated;
    std::size_t worst = 0;
    for (std::size_t k = 1; k < r.Points.size(); ++k) {
        if (std::fabs(*r.Points[k].Deviation) > std::fabs(*r.Points[worst].Deviation)) {
            worst = k;
        }
    }
    const std::string shown = fixed(std::fabs(*r.Points[worst].Deviation), 6, 4);
    const double edge = std::stod(shown) + u;
    const auto at = std::get<CertificateFigures>(FiguresOf(r, edge)).Judged;
    ASSERT_TRUE(at);
    EXPECT_TRUE(at->Conforms);
    const auto below = std::get<CertificateFigures>(FiguresOf(r, edge - 0.0001)).Judged;
    EXPECT_FALSE(below->Conforms);
    EXPECT_FALSE(below->Points[worst]);
    EXPECT_EQ(std::count(below->Points.begin(), below->Points.end(), false), 1);
    EXPECT_NE(ConformityStatement(*below, u, ',')
                  .find("nevyhovuje (body " + std::to_string(worst + 1) + ")"),
              std::string::npos);
    EXPECT_FALSE(std::get<CertificateFigures>(FiguresOf(r, 0.0)).Judged);
}

TEST_F(Certificate, IsRefusedWithoutTheReferencesSnapshotOrAComputableFit) {
    CertificateInput input = test::CertificateOf(KnownRecord(6, false));
    input.Record.Latest.ReferenceUsed.reset();
    EXPECT_TRUE(WriteCertificate(input, QString::fromStdString(pdf_.string()))
                    .contains(QStringLiteral("referenční přístroj")));
    input = test::CertificateOf(KnownRecord(6, false));
    input.Record.Latest.Points[2].Deviation.reset();
    EXPECT_TRUE(WriteCertificate(input, QString::fromStdString(pdf_.string()))
                    .contains(QStringLiteral("nelze spočítat")));
    EXPECT_TRUE(fs::is_empty(scratch_.Path()));
}

TEST_F(Certificate, SaysWhichFileCannotBeWrittenAndLeavesNoPdfWithoutItsJson) {
    const CertificateInput input = test::CertificateOf(KnownRecord(6, false));
    const QString missing = QString::fromStdString((scratch_.Path() / "no/list.pdf").string());
    EXPECT_TRUE(WriteCertificate(input, missing).contains(missing));

    fs::create_directory(scratch_.Path() / "list.json");
    const QString error = WriteCertificate(input, QString::fromStdString(pdf_.string()));
    EXPECT_TRUE(error.contains(QStringLiteral("list.json"))) << error.toStdString();
    EXPECT_FALSE(fs::exists(pdf_));
    EXPECT_EQ(CertificateJsonPath(QStringLiteral("/a/b.c/list.pdf")),
              QStringLiteral("/a/b.c/list.json"));
    EXPECT_EQ(CertificateFileName("kalibrace 1/00007"),
              QStringLiteral("Kalibracni_list_kalibrace_1_00007.pdf"));
}

} // namespace
} // namespace zorm
