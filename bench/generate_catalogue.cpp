// Writes a catalogue of realistic, made-up products and suppliers into a new file. The same
// arguments always give the same file, so benchmarks and the sample catalogue are repeatable.
//
//   generate_catalogue <path> [products] [suppliers] [departments] [seed]
#include "engine/kinds/number.h"
#include "engine/sqlite/connection.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <sqlite3.h>

#include <array>
#include <cstdint>

using namespace Qt::StringLiterals;

namespace {

// splitmix64: small, fast and the same everywhere.
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % std::uint64_t(n)); }
    template<typename T, std::size_t N>
    const T &pick(const std::array<T, N> &items) { return items[std::size_t(below(int(N)))]; }

private:
    std::uint64_t m_state;
};

const std::array<const char16_t *, 24> makers{
    u"サクラ", u"ふじ", u"みどり", u"アサヒノ", u"やまと", u"ホクト", u"ミナミ", u"ヒカリ",
    u"コスモ", u"さつき", u"トーヨー", u"ニッポン", u"はるか", u"大地", u"北海", u"東雲",
    u"ユニオン", u"ｻﾝﾗｲｽﾞ", u"ダイヤ", u"マルヤマ", u"こだま", u"オーシャン", u"青葉", u"ＭＩＮＴ"};
const std::array<const char16_t *, 40> goods{
    u"コーラ", u"ダイエットコーラ", u"緑茶", u"ほうじ茶", u"麦茶", u"ミネラルウォーター", u"オレンジジュース",
    u"りんごジュース", u"缶コーヒー", u"カフェオレ", u"牛乳", u"ヨーグルト", u"食パン", u"ロールパン",
    u"ポテトチップス", u"せんべい", u"チョコレート", u"クッキー", u"カップラーメン", u"うどん", u"そば",
    u"醤油", u"味噌", u"マヨネーズ", u"ケチャップ", u"カレールウ", u"米", u"納豆", u"豆腐", u"卵",
    u"洗剤", u"柔軟剤", u"シャンプー", u"歯みがき", u"ティッシュ", u"トイレットペーパー", u"ラップ",
    u"乾電池", u"ゴミ袋", u"ｺｰﾗ ｾﾞﾛ"};
const std::array<const char16_t *, 12> sizes{
    u"500ml", u"1.5L", u"350ml", u"1kg", u"200g", u"6個入", u"12ロール", u"5枚切", u"徳用", u"ミニ", u"Ｌサイズ", u"詰替"};
const std::array<const char16_t *, 16> supplierWords{
    u"商事", u"物産", u"食品", u"産業", u"商店", u"フーズ", u"トレーディング", u"流通",
    u"販売", u"乳業", u"製菓", u"飲料", u"日用品", u"卸", u"興業", u"ストアーズ"};
const std::array<const char16_t *, 12> places{
    u"東京都中央区日本橋", u"大阪府大阪市北区梅田", u"愛知県名古屋市中区栄", u"福岡県福岡市博多区",
    u"北海道札幌市中央区", u"宮城県仙台市青葉区", u"広島県広島市中区", u"神奈川県横浜市西区",
    u"京都府京都市下京区", u"埼玉県さいたま市大宮区", u"静岡県静岡市葵区", u"新潟県新潟市中央区"};

// A 13-digit JAN starting with 49 or 45, with its check digit.
std::int64_t makeJan(Random &random)
{
    std::int64_t body = (random.below(2) ? 49 : 45);
    for (int i = 0; i < 10; ++i)
        body = body * 10 + random.below(10);
    int sum = 0;
    std::int64_t rest = body;
    for (int position = 0; position < 12; ++position) {
        const int digit = int(rest % 10);
        rest /= 10;
        sum += digit * (position % 2 == 0 ? 3 : 1);
    }
    return body * 10 + (10 - sum % 10) % 10;
}

std::int64_t units(std::int64_t whole)
{
    return whole * Merchalog::Currency::unitsPerOne;
}

bool exec(sqlite3 *db, const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        QTextStream(stderr) << "generate_catalogue: " << message << '\n';
        sqlite3_free(message);
        return false;
    }
    return true;
}

void bindText(sqlite3_stmt *stmt, int position, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(stmt, position, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const char usage[] = "usage: generate_catalogue <path> [products] [suppliers] [departments] [seed]\n"
                         "  writes a catalogue of made-up products (default 1000000) into a new file\n";
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    if (args.size() < 2 || args.size() > 6 || args.at(1).startsWith(u'-')) {
        QTextStream(stderr) << usage;
        return 2;
    }
    const QString path = args.at(1);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        QTextStream(stderr) << "generate_catalogue: " << path << " already exists; remove it first\n";
        return 1;
    }
    const int products = args.size() > 2 ? args.at(2).toInt() : 1000000;
    const int suppliers = args.size() > 3 ? args.at(3).toInt() : 5000;
    const int departments = args.size() > 4 ? args.at(4).toInt() : 300;
    const std::uint64_t seed = args.size() > 5 ? args.at(5).toULongLong() : 20261206;
    if (products < 0 || suppliers < 1 || departments < 1) {
        QTextStream(stderr) << "generate_catalogue: counts must be positive\n";
        return 2;
    }

    if (const auto created = Merchalog::createCatalogueFile(path); !created) {
        QTextStream(stderr) << "generate_catalogue: " << created.message() << '\n';
        return 1;
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return 1;
    exec(db, "PRAGMA synchronous=OFF");
    exec(db, "PRAGMA journal_mode=OFF");
    if (!exec(db, "BEGIN"))
        return 1;

    Random random(seed);
    struct SupplierRow { QString name; std::int64_t code; };
    std::vector<SupplierRow> supplierRows;
    supplierRows.reserve(std::size_t(suppliers));
    sqlite3_stmt *insertSupplier = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO torihiki (torihiki_mei, torihiki_add, torihiki_tel, torihiki_code, torihiki_post)"
                           " VALUES (?,?,?,?,?)", -1, &insertSupplier, nullptr);
    for (int i = 0; i < suppliers; ++i) {
        const QString name = u"株式会社"_s + QString::fromUtf16(random.pick(makers)) + QString::fromUtf16(random.pick(supplierWords))
            + (i >= 384 ? QString::number(i / 384) : QString());
        const std::int64_t code = 100 + i;
        bindText(insertSupplier, 1, name);
        bindText(insertSupplier, 2, QString::fromUtf16(random.pick(places)) + u"%1-%2-%3"_s.arg(1 + random.below(9))
                                        .arg(1 + random.below(20)).arg(1 + random.below(30)));
        bindText(insertSupplier, 3, u"0%1-%2-%3"_s.arg(3 + random.below(6)).arg(1000 + random.below(9000))
                                        .arg(1000 + random.below(9000)));
        sqlite3_bind_int64(insertSupplier, 4, units(code));
        bindText(insertSupplier, 5, u"%1-%2"_s.arg(100 + random.below(900)).arg(qlonglong(random.below(10000)), 4, 10, QLatin1Char('0')));
        if (sqlite3_step(insertSupplier) != SQLITE_DONE)
            return 1;
        sqlite3_reset(insertSupplier);
        supplierRows.push_back({name, code});
    }
    sqlite3_finalize(insertSupplier);

    sqlite3_stmt *insertProduct = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO syohin (syohin_mei, syohin_master, syohin_sale, syohin_genka, syohin_JAN,"
                           " syohin_EOS, syohin_EOStani, syohin_torihiki, syohin_torihikicode, bumon_code, bumon_AU)"
                           " VALUES (?,?,?,?,?,?,?,?,?,?,?)", -1, &insertProduct, nullptr);
    for (int i = 0; i < products; ++i) {
        const QString name = QString::fromUtf16(random.pick(makers)) + u' ' + QString::fromUtf16(random.pick(goods))
            + u' ' + QString::fromUtf16(random.pick(sizes));
        const std::int64_t price = 50 + random.below(60) * 10 + (random.below(4) == 0 ? 1000 : 0) - (random.below(3) == 0 ? 2 : 0);
        const SupplierRow &supplier = supplierRows[std::size_t(random.below(suppliers))];
        const int department = 1 + random.below(departments);
        bindText(insertProduct, 1, name);
        sqlite3_bind_int64(insertProduct, 2, units(price));
        sqlite3_bind_int64(insertProduct, 3, units(price) * (80 + random.below(15)) / 100);
        sqlite3_bind_int64(insertProduct, 4, units(price) * (55 + random.below(20)) / 100 + random.below(2) * 5000);
        sqlite3_bind_int64(insertProduct, 5, units(makeJan(random)));
        sqlite3_bind_int64(insertProduct, 6, units(100000 + i));
        sqlite3_bind_int(insertProduct, 7, std::array{1, 6, 12, 24, 30, 48}[std::size_t(random.below(6))]);
        bindText(insertProduct, 8, supplier.name);
        sqlite3_bind_int64(insertProduct, 9, units(supplier.code));
        sqlite3_bind_int64(insertProduct, 10, units(department));
        sqlite3_bind_int64(insertProduct, 11, units(1 + department % 20));
        if (sqlite3_step(insertProduct) != SQLITE_DONE) {
            QTextStream(stderr) << "generate_catalogue: " << sqlite3_errmsg(db) << '\n';
            return 1;
        }
        sqlite3_reset(insertProduct);
    }
    sqlite3_finalize(insertProduct);
    if (!exec(db, "COMMIT"))
        return 1;
    exec(db, "ANALYZE");
    sqlite3_close(db);
    return 0;
}
