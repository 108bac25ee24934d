#include "bindings/frame/registry.hpp"

#include <stdexcept>

namespace qel::py {

std::string make_doc(std::string_view sig, std::string_view doc) {
    if (sig.empty()) return std::string(doc);
    std::string out(sig);
    out += "\n--\n\n";
    out += doc;
    return out;
}

const char* ClassDef::keep(std::string s) {
    strings_.push_back(std::move(s));
    return strings_.back().c_str();
}

FunctionDef& Module::add_function(const char* name, std::string doc) {
    if (functions.count(name)) throw std::logic_error(std::string("function registered twice: ") + name);
    auto* f = new FunctionDef();  // lives as long as the process: the function objects point at it
    f->name = name;
    f->doc = std::move(doc);
    f->def.ml_name = f->name.c_str();
    f->def.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    f->def.ml_doc = f->doc.c_str();
    functions.emplace(f->name, f);
    return *f;
}

ClassDef& Module::class_def(const char* name) {
    auto it = classes.find(std::string_view(name));
    if (it != classes.end()) return *it->second;
    auto* c = new ClassDef();  // the type objects keep pointers into it
    c->name = name;
    classes.emplace(c->name, c);
    return *c;
}

ClassDef& Module::add_class(const char* name, std::string doc, std::size_t basicsize, std::size_t* index_slot) {
    ClassDef& c = class_def(name);
    if (c.basicsize != 0) throw std::logic_error(std::string("class declared twice: ") + name);
    c.doc = std::move(doc);
    c.basicsize = basicsize;
    c.index_slot = index_slot;
    return c;
}

std::vector<RegisterFn>& registrars() {
    static std::vector<RegisterFn> r;
    return r;
}

Registrar::Registrar(RegisterFn f) { registrars().push_back(f); }

}  // namespace qel::py
