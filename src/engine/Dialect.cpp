#include "engine/Dialect.h"

#include <QStringList>
#include <algorithm>
#include <charconv>
#include <string>
#include <cmath>

namespace engine {

namespace {

bool isIdentStart(QChar c) { return c.isLetter() || c == QLatin1Char('_'); }
bool isIdentChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

// A cursor over the statement that skips blanks and reads words, plain identifiers and quoted
// stretches, so keywords inside string literals or quoted names are never mistaken for clauses.
class Reader {
 public:
  explicit Reader(const QString& s) : s_(&s) {}

  void skipBlanks() {
    while (pos_ < s_->size() && s_->at(pos_).isSpace()) ++pos_;
  }
  bool atEnd() {
    skipBlanks();
    return pos_ >= s_->size();
  }
  qsizetype pos() const { return pos_; }

  /// Reads a plain identifier or keyword; empty when the next token is something else.
  QString word() {
    skipBlanks();
    const qsizetype start = pos_;
    if (pos_ < s_->size() && isIdentStart(s_->at(pos_))) {
      ++pos_;
      while (pos_ < s_->size() && isIdentChar(s_->at(pos_))) ++pos_;
    }
    return s_->mid(start, pos_ - start);
  }
  bool keyword(const char* kw) {
    const qsizetype save = pos_;
    if (word().compare(QLatin1String(kw), Qt::CaseInsensitive) == 0) return true;
    pos_ = save;
    return false;
  }
  bool symbol(QChar c) {
    skipBlanks();
    if (pos_ < s_->size() && s_->at(pos_) == c) {
      ++pos_;
      return true;
    }
    return false;
  }

 private:
  const QString* s_;
  qsizetype pos_ = 0;
};

// Position of `kw` as a whole word at parenthesis depth 0 and outside quotes, from `from` on.
qsizetype findKeyword(const QString& s, const char* kw, qsizetype from) {
  const QLatin1String key(kw);
  int depth = 0;
  for (qsizetype i = from; i < s.size(); ++i) {
    const QChar c = s.at(i);
    if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[') || c == QLatin1Char('`')) {
      const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
      const qsizetype end = s.indexOf(close, i + 1);
      if (end < 0) return -1;
      i = end;
    } else if (c == QLatin1Char('(')) {
      ++depth;
    } else if (c == QLatin1Char(')')) {
      --depth;
    } else if (depth == 0 && isIdentStart(c) && (i == 0 || !isIdentChar(s.at(i - 1)))) {
      qsizetype j = i;
      while (j < s.size() && isIdentChar(s.at(j))) ++j;
      if (QStringView(s).mid(i, j - i).compare(key, Qt::CaseInsensitive) == 0) return i;
      i = j - 1;
    }
  }
  return -1;
}

// Splits "a double,b double" at depth-0 commas into plain column definitions; empty when one
// of them carries anything beyond a name and type words (constraints, defaults, quotes).
std::vector<ColumnDef> simpleColumns(const QString& inner) {
  std::vector<ColumnDef> cols;
  for (const QString& part : inner.split(QLatin1Char(','))) {
    const QStringList words = part.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) return {};
    for (const QString& w : words) {
      if (!isIdentStart(w.front())) return {};
      for (QChar c : w)
        if (!isIdentChar(c)) return {};
    }
    cols.push_back({words.front(), words.mid(1).join(QLatin1Char(' '))});
  }
  return cols;
}

}  // namespace

Statement parseStatement(const QString& sql) {
  Statement st;
  QString text = sql.trimmed();
  while (text.endsWith(QLatin1Char(';'))) text = text.chopped(1).trimmed();
  st.text = text;

  Reader r(text);
  const QString first = r.word().toLower();
  if (first == QLatin1String("select") || first == QLatin1String("with") ||
      first == QLatin1String("pragma") || first == QLatin1String("explain")) {
    st.kind = Statement::Kind::Select;
    if (first == QLatin1String("select") && r.keyword("count") && r.symbol(QLatin1Char('(')) &&
        r.symbol(QLatin1Char('*')) && r.symbol(QLatin1Char(')')) && r.keyword("from")) {
      st.table = r.word();
      st.countsAll = !st.table.isEmpty() && r.atEnd();
      if (!st.countsAll) st.table.clear();
    }
  } else if (first == QLatin1String("delete")) {
    st.kind = Statement::Kind::Delete;
    const qsizetype afterDelete = r.pos();
    if (r.symbol(QLatin1Char('*'))) {
      // Jet's "delete * from t": SQLite knows only "delete from t".
      const qsizetype afterStar = r.pos();
      st.text = text.left(afterDelete) + text.mid(afterStar);
      r = Reader(st.text);
      r.word();
    }
    if (r.keyword("from")) st.table = r.word();
    const qsizetype w = findKeyword(st.text, "where", r.pos());
    if (w >= 0) st.whereClause = st.text.mid(w + 5).trimmed();
    else if (!r.atEnd()) st.table.clear();
  } else if (first == QLatin1String("update")) {
    st.kind = Statement::Kind::Update;
    st.table = r.word();
    if (!r.keyword("set")) {
      st.table.clear();
    } else {
      const qsizetype setStart = r.pos();
      const qsizetype w = findKeyword(text, "where", setStart);
      st.setClause = text.mid(setStart, (w < 0 ? text.size() : w) - setStart).trimmed();
      if (w >= 0) st.whereClause = text.mid(w + 5).trimmed();
    }
  } else if (first == QLatin1String("insert")) {
    st.kind = Statement::Kind::Insert;
    if (r.keyword("into")) st.table = r.word();
    if (!st.table.isEmpty() && r.keyword("values") && r.symbol(QLatin1Char('(')) && text.endsWith(QLatin1Char(')'))) {
      const QStringList parts = text.mid(r.pos(), text.size() - 1 - r.pos()).split(QLatin1Char(','));
      bool plain = true;
      for (const QString& p : parts) {
        const QString v = p.trimmed();
        if (v.compare(QLatin1String("null"), Qt::CaseInsensitive) != 0 && !isNumberLiteral(v)) plain = false;
      }
      if (plain) {
        for (const QString& p : parts) st.values << p.trimmed();
      }
    }
  } else if (first == QLatin1String("create")) {
    if (r.keyword("table")) {
      st.kind = Statement::Kind::CreateTable;
      st.table = r.word();
      if (!st.table.isEmpty() && r.symbol(QLatin1Char('('))) {
        const qsizetype open = r.pos();
        if (text.endsWith(QLatin1Char(')')) && findKeyword(text, "as", open) < 0)
          st.columns = simpleColumns(text.mid(open, text.size() - 1 - open));
      }
    }
  } else if (first == QLatin1String("drop")) {
    if (r.keyword("table")) {
      st.kind = Statement::Kind::DropTable;
      if (r.keyword("if")) {
        st.table.clear();  // "drop table if exists": left to SQLite
      } else {
        st.table = r.word();
        if (!r.atEnd()) st.table.clear();
      }
    }
  }
  return st;
}

std::optional<long long> shiftSteps(const QString& setClause, const QString& column, double step) {
  Reader r(setClause);
  if (r.word().compare(column, Qt::CaseInsensitive) != 0 || !r.symbol(QLatin1Char('='))) return {};
  if (r.word().compare(column, Qt::CaseInsensitive) != 0) return {};
  int sign;
  if (r.symbol(QLatin1Char('-'))) sign = 1;
  else if (r.symbol(QLatin1Char('+'))) sign = -1;
  else return {};
  r.skipBlanks();
  bool ok = false;
  const double amount = setClause.mid(r.pos()).trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(amount) || amount < 0 || amount > 1e12) return {};
  const double steps = amount / step;
  const double whole = std::round(steps);
  if (std::fabs(steps - whole) > 1e-9 * std::max(1.0, whole)) return {};
  return sign * static_cast<long long>(whole);
}

bool isNumberLiteral(QStringView t) {
  // [+-] digits [. digits] [e [+-] digits], with at least one digit before the exponent.
  t = t.trimmed();
  qsizetype i = 0;
  const auto digits = [&] {
    const qsizetype from = i;
    while (i < t.size() && t.at(i) >= QLatin1Char('0') && t.at(i) <= QLatin1Char('9')) ++i;
    return i - from;
  };
  if (i < t.size() && (t.at(i) == QLatin1Char('+') || t.at(i) == QLatin1Char('-'))) ++i;
  qsizetype mantissa = digits();
  if (i < t.size() && t.at(i) == QLatin1Char('.')) {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < t.size() && (t.at(i) == QLatin1Char('e') || t.at(i) == QLatin1Char('E'))) {
    ++i;
    if (i < t.size() && (t.at(i) == QLatin1Char('+') || t.at(i) == QLatin1Char('-'))) ++i;
    if (digits() == 0) return false;
  }
  return i == t.size();
}

std::optional<double> numberLiteral(const QString& text) {
  if (!isNumberLiteral(text)) return {};
  // from_chars takes no '+' and reads the C locale's form whatever the process locale is.
  std::string latin = text.trimmed().toStdString();
  if (!latin.empty() && latin.front() == '+') latin.erase(0, 1);
  double v = 0;
  const auto res = std::from_chars(latin.data(), latin.data() + latin.size(), v);
  if (res.ec != std::errc() || res.ptr != latin.data() + latin.size() || !std::isfinite(v)) return {};
  return v;
}

std::optional<double> equalsNumber(const QString& whereClause, const QString& column) {
  Reader r(whereClause);
  if (r.word().compare(column, Qt::CaseInsensitive) != 0 || !r.symbol(QLatin1Char('='))) return {};
  r.skipBlanks();
  return numberLiteral(whereClause.mid(r.pos()));
}

bool mentionsIdentifier(const QString& text, const QString& word) {
  QString flat = text;
  flat.replace(QLatin1Char('('), QLatin1Char(' ')).replace(QLatin1Char(')'), QLatin1Char(' '));
  return findKeyword(flat, word.toLatin1().constData(), 0) >= 0;
}

}  // namespace engine
