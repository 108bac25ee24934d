#include "bindings/frame/signature.hpp"

#include <charconv>
#include <stdexcept>

#include "types/format.hpp"

namespace qel::py {

namespace {

Obj parse_default(std::string_view lit) {
    if (lit == "None") return Obj::borrow(Py_None);
    if (lit == "...") return Obj::borrow(Py_Ellipsis);  // with ElidedDefault
    if (lit == "True") return Obj::borrow(Py_True);
    if (lit == "False") return Obj::borrow(Py_False);
    if (lit.size() >= 2 && (lit.front() == '"' || lit.front() == '\'') && lit.back() == lit.front()) {
        std::string out;
        for (std::size_t i = 1; i + 1 < lit.size(); ++i) {
            if (lit[i] == '\\' && i + 2 < lit.size()) ++i;
            out.push_back(lit[i]);
        }
        return Obj::check(PyUnicode_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
    }
    bool integral = lit.find_first_of(".eEn") == std::string_view::npos;
    if (integral) {
        long long v = 0;
        auto r = std::from_chars(lit.data(), lit.data() + lit.size(), v);
        if (r.ec == std::errc() && r.ptr == lit.data() + lit.size()) return Obj::check(PyLong_FromLongLong(v));
    } else {
        double v = 0;
        auto r = std::from_chars(lit.data(), lit.data() + lit.size(), v);
        if (r.ec == std::errc() && r.ptr == lit.data() + lit.size()) return Obj::check(PyFloat_FromDouble(v));
    }
    throw std::logic_error("unsupported default in text signature: " + std::string(lit));
}

}  // namespace

Signature Signature::parse(std::string_view text_sig, std::string_view display) {
    Signature sig;
    sig.display = std::string(display);
    bool seen_default = false;
    bool ok = for_each_param(text_sig, [&](std::string_view p) {
        std::size_t eq = p.find('=');
        std::string name(trim_sig(p.substr(0, eq)));
        sig.names.push_back(name);
        sig.names_py.push_back(Obj::check(PyUnicode_InternFromString(name.c_str())));
        if (eq == std::string_view::npos) {
            if (seen_default) throw std::logic_error("required parameter after a default: " + name);
            sig.defaults.emplace_back();
            ++sig.n_required;
        } else {
            seen_default = true;
            sig.defaults.push_back(parse_default(trim_sig(p.substr(eq + 1))));
        }
    });
    if (!ok) throw std::logic_error("malformed text signature: " + std::string(text_sig));
    if (sig.names.size() > kMaxParams) throw std::logic_error("too many parameters: " + sig.display);
    return sig;
}

namespace {

const char* plural(std::size_t n, const char* one, const char* many) { return n == 1 ? one : many; }

[[noreturn]] void raise_too_many(const Signature& sig, std::size_t given) {
    std::size_t n = sig.names.size();
    std::string msg = sig.display + " takes ";
    if (sig.n_required == n)
        msg += text::cat(n, " positional ", plural(n, "argument", "arguments"));
    else
        msg += text::cat("from ", sig.n_required, " to ", n, " positional arguments");
    msg += text::cat(" but ", given, " ", plural(given, "was", "were"), " given");
    raise_type_error(msg);
}

void place_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** out) {
    std::size_t n = sig.names.size();
    std::size_t j = n;
    for (std::size_t k = 0; k < n; ++k)
        if (sig.names_py[k].get() == key) {
            j = k;
            break;
        }
    if (j == n) {
        for (std::size_t k = 0; k < n; ++k) {
            int eq = PyUnicode_Compare(sig.names_py[k].get(), key);
            if (eq == -1 && PyErr_Occurred()) throw PyErrSet{};
            if (eq == 0) {
                j = k;
                break;
            }
        }
    }
    if (j == n) {
        Py_ssize_t len = 0;
        const char* s = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
        if (!s) PyErr_Clear();
        raise_type_error(text::cat(sig.display, " got an unexpected keyword argument '",
                                   s ? std::string_view(s, static_cast<std::size_t>(len)) : "?", "'"));
    }
    if (out[j]) raise_type_error(text::cat(sig.display, " got multiple values for argument '", sig.names[j], "'"));
    out[j] = value;
}

void fill_defaults(const Signature& sig, PyObject** out) {
    std::vector<const std::string*> missing;
    for (std::size_t j = 0; j < sig.names.size(); ++j) {
        if (out[j]) continue;
        if (j < sig.n_required)
            missing.push_back(&sig.names[j]);
        else
            out[j] = sig.defaults[j].get();
    }
    if (missing.empty()) return;
    std::size_t m = missing.size();
    std::string list;
    for (std::size_t i = 0; i < m; ++i) {
        if (i > 0) list += (m == 2) ? " and " : (i + 1 == m ? ", and " : ", ");
        list += "'" + *missing[i] + "'";
    }
    raise_type_error(text::cat(sig.display, " missing ", m, " required positional ", plural(m, "argument", "arguments"),
                               ": ", list));
}

}  // namespace

void match_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    std::size_t n = sig.names.size();
    if (static_cast<std::size_t>(nargs) > n) raise_too_many(sig, static_cast<std::size_t>(nargs));
    for (std::size_t j = 0; j < n; ++j) out[j] = j < static_cast<std::size_t>(nargs) ? args[j] : nullptr;
    if (kwnames) {
        Py_ssize_t nk = PyTuple_Size(kwnames);
        for (Py_ssize_t i = 0; i < nk; ++i) place_keyword(sig, PyTuple_GetItem(kwnames, i), args[nargs + i], out);
    }
    fill_defaults(sig, out);
}

void match_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
    std::size_t n = sig.names.size();
    Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
    if (static_cast<std::size_t>(nargs) > n) raise_too_many(sig, static_cast<std::size_t>(nargs));
    for (std::size_t j = 0; j < n; ++j)
        out[j] = j < static_cast<std::size_t>(nargs) ? PyTuple_GetItem(args, static_cast<Py_ssize_t>(j)) : nullptr;
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *k, *v;
        while (PyDict_Next(kwargs, &pos, &k, &v)) place_keyword(sig, k, v, out);
    }
    fill_defaults(sig, out);
}

}  // namespace qel::py
