// The query adapter: one pass over the text, no allocation beyond the result.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "frame/vktapp.h"
#include "sql/sqlexception.h"
#include "sql/vktpostgresql.h"

namespace {

// The tables kept once for all companies, in their established order. A
// name also matches a longer name that begins with it ("zone" in "zone2"):
// that prefix rule is intended.
constexpr const char* kSharedTables[] = {
    "ditt2016", "comuni1", "nazioni1", "uffiva", "cencosto", "riclass", "mastri", "conti",
    "sotcon", "banche1", "sezioni", "caucont1", "tipautor", "caratter", "stfisico", "recupero",
    "codici_eer", "respingimenti", "materiali", "classi_adr", "raee", "cauoperaz",
    "provenienze", "trasp_transf", "tipi_respingimento", "attivita", "vettori1", "zone",
    "cateco", "pagament", "depositi", "depimpo", "caumaga1", "banche1", "tabelle", "capiarea",
    "agenti1", "canali", "textnote", "clienti1", "fornito1", "rubrica", "destina1", "riferime",
    "fidelity", "gruppifo", "taglie1", "articofo", "codiva", "marchi", "reparti", "catmerc1",
    "misure", "stagioni", "vuoti", "taglie1", "artanag", "serials", "serdesc", "varcodart",
    "related", "barcode", "varbar", "artimag2", "vartype", "alternat", "vargroup", "varterm",
    "anavar", "anavargr", "artfor", "artattach", "artdesc", "artnote", "ingred1", "valenze",
    "antagcol", "listini1", "varlis1", "listfor",
};

// The shared names by first letter, so a reference costs a few compares.
struct SharedIndex {
  struct Name {
    const char* text;
    size_t length;
  };
  Name by_letter[26][32];
  int count[26] = {};
  SharedIndex() {
    for (const char* t : kSharedTables) {
      int l = t[0] - 'a';
      by_letter[l][count[l]++] = Name{t, std::strlen(t)};
    }
  }
  bool Matches(std::string_view rest) const {
    if (rest.empty() || rest[0] < 'a' || rest[0] > 'z') return false;
    int l = rest[0] - 'a';
    for (int k = 0; k < count[l]; ++k) {
      const Name& n = by_letter[l][k];
      if (rest.size() >= n.length && std::memcmp(rest.data(), n.text, n.length) == 0)
        return true;
    }
    return false;
  }
};

const SharedIndex& Shared() {
  static const SharedIndex index;
  return index;
}

bool CompanyLayout(const char* app) {
  static const char* const kApps[] = {"MIRTO", "LOCANDA", "PIATTO", "MIRCRM", "MIRTOTS"};
  for (const char* a : kApps)
    if (std::strcmp(app, a) == 0) return true;
  return false;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

[[noreturn]] void RefuseName(const char* what, const char* value) {
  std::string text = std::string(what) + " non valido per SQL: \"" + value +
                     "\" (ammessi solo lettere, cifre e _)";
  ThrowUserException(text.c_str(), vkt::sql::kSourceFile, __LINE__,
                     "CVKTPostgreSQL::QueryAdapt", nullptr);
}

// Where the row limit goes: before a final ";", on a new line after a final
// "--" comment, else at the very end.
void AppendLimits(std::string* q, const std::string& limits) {
  // The start of a "--" comment that runs to the end of the text, outside
  // quotes; npos when the text does not end in one.
  size_t comment = std::string::npos;
  char quote = 0;
  for (size_t i = 0; i < q->size(); ++i) {
    char c = (*q)[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '-' && i + 1 < q->size() && (*q)[i + 1] == '-') {
      size_t eol = q->find('\n', i);
      if (eol == std::string::npos) {
        comment = i;
        break;
      }
      i = eol;
    }
  }
  size_t body_end = comment == std::string::npos ? q->size() : comment;
  size_t last = q->find_last_not_of(" \t\r\n", body_end == 0 ? std::string::npos : body_end - 1);
  if (body_end > 0 && last != std::string::npos && (*q)[last] == ';') {
    q->insert(last, limits);
  } else if (comment != std::string::npos) {
    *q += "\n";
    *q += limits;
  } else {
    *q += limits;
  }
}

}  // namespace

SAString CVKTPostgreSQL::QueryAdapt(SAString query, int32_t limit, int32_t offset,
                                    int32_t reserved) {
  return QueryAdapt(GetDbType(), std::move(query), limit, offset, reserved);
}

SAString CVKTPostgreSQL::QueryAdapt(int kind, SAString query, int32_t limit, int32_t offset,
                                    int32_t) {
  const std::string& in = query.str();
  size_t start = in.find_first_not_of("\n\r\t ");
  std::string q = start == std::string::npos ? std::string() : in.substr(start);
  for (size_t p = q.find("\t="); p != std::string::npos; p = q.find("\t=", p + 2)) q[p] = ' ';

  if (limit > 0 || offset > 0) {
    char buf[64];
    std::string limits;
    if (kind == 0) {
      if (limit > 0) {
        std::snprintf(buf, sizeof buf, " TOP %ld", static_cast<long>(limit));
        limits += buf;
      }
      if (offset > 0) {
        std::snprintf(buf, sizeof buf, " SKIP %ld", static_cast<long>(offset));
        limits += buf;
      }
      if (q.size() >= 6 && strncasecmp(q.c_str(), "SELECT", 6) == 0) q.insert(6, limits);
      return SAString(std::move(q));
    }
    if (limit > 0) {
      std::snprintf(buf, sizeof buf, " LIMIT %ld", static_cast<long>(limit));
      limits += buf;
    }
    if (offset > 0) {
      std::snprintf(buf, sizeof buf, " OFFSET %ld", static_cast<long>(offset));
      limits += buf;
    }
    AppendLimits(&q, limits);
  }
  if (kind == 0) return SAString(std::move(q));
  if (q.find("admin") == std::string::npos) return SAString(std::move(q));

  const VKTAPPPARAM* par = vktpar;
  const char* app = par != nullptr ? par->app_name : "";
  std::string out;
  out.reserve(q.size() + 64);
  if (CompanyLayout(app)) {
    std::string archive = par->archive;
    if (!vkt::sql::IsPlainIdentifier(archive.c_str())) RefuseName("Codice archivio", archive.c_str());
    int32_t company = par->company != nullptr ? *par->company : 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%05ld.", static_cast<long>(company));
    const std::string company_prefix = Lower(archive) + buf;
    const std::string shared_prefix = kind == 3 || kind == 4 ? Lower(archive) + "." : "";
    // Every "admin." reference, left to right: the company table vuotimov
    // first (before the shared vuoti), then the shared tables, else the
    // company's schema.
    size_t i = 0;
    for (size_t p = q.find("admin."); p != std::string::npos; p = q.find("admin.", i)) {
      out.append(q, i, p - i);
      std::string_view rest(q.data() + p + 6, q.size() - p - 6);
      bool company_table = rest.substr(0, 8) == "vuotimov";
      out += !company_table && Shared().Matches(rest) ? shared_prefix : company_prefix;
      i = p + 6;
    }
    out.append(q, i, std::string::npos);
    return SAString(std::move(out));
  }
  const char* schema = par != nullptr ? par->sql_schema : "";
  if (schema[0] != '\0' && !vkt::sql::IsPlainIdentifier(schema)) RefuseName("Schema SQL", schema);
  std::string s = schema;
  const std::string dot = s.empty() ? "" : s + ".";
  const std::string under = s.empty() ? "" : s + "_";
  const bool rewrite_dot = dot != "admin.";
  const bool rewrite_under = under != "admin_";
  size_t i = 0;
  for (size_t p = q.find("admin"); p != std::string::npos; p = q.find("admin", i)) {
    char next = p + 5 < q.size() ? q[p + 5] : '\0';
    if ((next == '.' && rewrite_dot) || (next == '_' && rewrite_under)) {
      out.append(q, i, p - i);
      out += next == '.' ? dot : under;
      i = p + 6;
    } else {
      out.append(q, i, p + 5 - i);
      i = p + 5;
    }
  }
  out.append(q, i, std::string::npos);
  return SAString(std::move(out));
}
