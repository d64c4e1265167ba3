#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <vector>

// GCC 12 destroys twice a capturing lambda, or a braced temporary (`f(Plan{...})`), written
// inside a co_await expression. The rule: name the value (or make the future) first, then
// co_await it. This check walks every source file and fails on either inside a co_await.

namespace {

// Blanks out comments, string and character literals so that their contents never match.
QString stripCommentsAndLiterals(const QString& source)
{
    QString out = source;
    enum { code, lineComment, blockComment, stringLiteral, charLiteral } mode = code;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out[i];
        const QChar next = i + 1 < out.size() ? out[i + 1] : QChar();
        switch (mode) {
        case code:
            if (c == u'/' && next == u'/') {
                mode = lineComment;
                out[i] = u' ';
            } else if (c == u'/' && next == u'*') {
                mode = blockComment;
                out[i] = u' ';
            } else if (c == u'"') {
                mode = stringLiteral;
            } else if (c == u'\'' && !(i > 0 && out[i - 1].isLetterOrNumber())) {
                mode = charLiteral;
            }
            break;
        case lineComment:
            if (c == u'\n') {
                mode = code;
            } else {
                out[i] = u' ';
            }
            break;
        case blockComment:
            if (c == u'*' && next == u'/') {
                out[i] = out[i + 1] = u' ';
                ++i;
                mode = code;
            } else if (c != u'\n') {
                out[i] = u' ';
            }
            break;
        case stringLiteral:
        case charLiteral:
            if (c == u'\\') {
                out[i] = u' ';
                if (i + 1 < out.size() && out[i + 1] != u'\n') {
                    out[++i] = u' ';
                }
            } else if ((mode == stringLiteral && c == u'"') || (mode == charLiteral && c == u'\'')) {
                mode = code;
            } else if (c != u'\n') {
                out[i] = u' ';
            }
            break;
        }
    }
    return out;
}

bool isIdentifierChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// The text of the expression that follows a co_await at `start`, up to the end of the
// statement or of the enclosing bracket.
QString awaitedExpression(const QString& code, qsizetype start)
{
    int depth = 0;
    qsizetype i = start;
    for (; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == u'(' || c == u'[' || c == u'{') {
            ++depth;
        } else if (c == u')' || c == u']' || c == u'}') {
            if (depth == 0) {
                break;
            }
            --depth;
        } else if ((c == u';' || c == u',') && depth == 0) {
            break;
        }
    }
    return code.mid(start, i - start);
}

// True when the expression holds a lambda whose capture list is not empty.
bool hasCapturingLambda(const QString& expression)
{
    for (qsizetype i = 0; i < expression.size(); ++i) {
        if (expression[i] != u'[') {
            continue;
        }
        if (i + 1 < expression.size() && expression[i + 1] == u'[') {
            ++i; // an attribute
            continue;
        }
        qsizetype before = i - 1;
        while (before >= 0 && expression[before].isSpace()) {
            --before;
        }
        if (before >= 0) {
            const QChar p = expression[before];
            if (isIdentifierChar(p) || p == u')' || p == u']' || p == u'>') {
                continue; // a subscript
            }
        }
        const qsizetype close = expression.indexOf(u']', i);
        if (close < 0) {
            return false;
        }
        const QString captures = expression.mid(i + 1, close - i - 1).trimmed();
        static const QRegularExpression lambdaBody(QStringLiteral("^\\s*(\\(|\\{|<|mutable\\b|->|constexpr\\b)"));
        if (!captures.isEmpty() && lambdaBody.match(expression.mid(close + 1)).hasMatch()) {
            return true;
        }
    }
    return false;
}

// True when the expression builds a braced temporary: a type name followed by "{" that is not
// a lambda body. The awaited operand itself (`co_await Yield{}`) is the awaiter, not a temporary
// passed along, and is left alone.
bool hasBracedTemporary(const QString& expression)
{
    static const QRegularExpression braced(QStringLiteral("\\b([A-Za-z_][\\w:]*)\\s*(<[^;{}()]*>)?\\s*\\{"));
    auto it = braced.globalMatch(expression);
    while (it.hasNext()) {
        const auto match = it.next();
        const QString name = match.captured(1);
        if (expression.left(match.capturedStart()).trimmed().isEmpty()) {
            continue;
        }
        if (name == u"mutable" || name == u"noexcept" || name == u"constexpr" || name == u"co_await"
            || name == u"return" || name == u"else" || name == u"do" || name == u"try") {
            continue;
        }
        return true;
    }
    return false;
}

// Line numbers (1-based) of co_await expressions holding a capturing lambda or a braced temporary.
std::vector<int> offendingLines(const QString& source)
{
    const QString code = stripCommentsAndLiterals(source);
    static const QRegularExpression keyword(QStringLiteral("\\bco_await\\b"));
    std::vector<int> lines;
    auto it = keyword.globalMatch(code);
    while (it.hasNext()) {
        const auto match = it.next();
        const QString expression = awaitedExpression(code, match.capturedEnd());
        if (hasCapturingLambda(expression) || hasBracedTemporary(expression)) {
            lines.push_back(static_cast<int>(code.left(match.capturedStart()).count(u'\n')) + 1);
        }
    }
    return lines;
}

} // namespace

TEST(CoAwaitLambdaLint, FlagsCapturingLambdasInsideCoAwait)
{
    EXPECT_EQ(offendingLines(QStringLiteral("auto v = co_await m_executor.run([this] { return 1; });")),
              std::vector<int>{1});
    EXPECT_EQ(offendingLines(QStringLiteral("x;\nco_await run([&, id]() mutable { f(id); });")), std::vector<int>{2});
    EXPECT_EQ(offendingLines(QStringLiteral("co_return co_await withTimeLimit(run([=] { return g(); }), 1s);")),
              std::vector<int>{1});
    EXPECT_EQ(offendingLines(QStringLiteral("co_await run(\n  [session]\n  {\n  });")), std::vector<int>{1});
    EXPECT_EQ(offendingLines(QStringLiteral("co_await execute(UploadPlan{source, name});")), std::vector<int>{1});
    EXPECT_EQ(offendingLines(QStringLiteral("co_await f(std::optional<Item>{item});")), std::vector<int>{1});
}

TEST(CoAwaitLambdaLint, AcceptsNamedLambdasSubscriptsAndComments)
{
    EXPECT_TRUE(offendingLines(QStringLiteral("auto job = [this] { return 1; };\nco_await m_executor.run(job);")).empty());
    EXPECT_TRUE(offendingLines(QStringLiteral("co_await run([] { return 1; });")).empty());
    EXPECT_TRUE(offendingLines(QStringLiteral("auto x = co_await items[i];\nco_await f(a[b](c));")).empty());
    EXPECT_TRUE(offendingLines(QStringLiteral("// co_await run([this] {});\nco_await g(\"[this] {\");")).empty());
    EXPECT_TRUE(offendingLines(QStringLiteral("co_await f(x); auto l = [this] { return 2; };")).empty());
    EXPECT_TRUE(offendingLines(QStringLiteral("UploadPlan plan{source, name};\nco_await execute(plan);")).empty());
    EXPECT_TRUE(offendingLines(QStringLiteral("co_await run([]() mutable { return 1; });")).empty());
    EXPECT_TRUE(offendingLines(QStringLiteral("co_await MainThreadYield{};")).empty());
}

TEST(CoAwaitLambdaLint, NoSourceFileAwaitsACapturingLambda)
{
    const QString root = QStringLiteral(QUILLBARROW_SOURCE_DIR);
    int files = 0;
    for (const QString& folder : {QStringLiteral("/src"), QStringLiteral("/tests"), QStringLiteral("/bench")}) {
        QDirIterator it(root + folder, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.endsWith(QStringLiteral("/CoAwaitLambdaLint.cpp"))) {
                continue; // its fixtures are violations on purpose
            }
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
            ++files;
            for (int line : offendingLines(QString::fromUtf8(file.readAll()))) {
                ADD_FAILURE() << path.toStdString() << ":" << line
                              << ": capturing lambda or braced temporary inside a co_await expression; name it first";
            }
        }
    }
    EXPECT_GT(files, 0);
}
