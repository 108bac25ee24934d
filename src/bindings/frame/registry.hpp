// Registration: what QEL_BINDINGS blocks declare, collected once per process
// and turned into functions and classes by the module's execution step.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/frame/trampolines.hpp"

namespace qel::py {

std::string make_doc(std::string_view sig, std::string_view doc);

// The text signature a lambda must have: as many parameters as it takes,
// not counting the object of a method.
template <class L>
using FnSig = TextSig<FnTraits<L>::arity>;
template <class L>
using MethodSig = TextSig<FnTraits<L>::arity - 1>;

struct ClassDef {
    std::string name;
    std::string doc;
    std::vector<PyType_Slot> slots;
    std::vector<PyMethodDef> methods;
    std::vector<PyGetSetDef> getsets;
    // Static methods: bound to each module's own class when it is created (a
    // METH_STATIC function would be called without it), then wrapped in staticmethod.
    std::deque<PyMethodDef> statics;
    std::size_t basicsize = 0;
    bool instantiable = true;
    std::size_t* index_slot = nullptr;  // TypeSlot<T>::index
    std::deque<std::string> strings_;   // stable storage for names and docs
    const char* keep(std::string s);
};

struct FunctionDef {
    PyMethodDef def{};
    std::string name, doc;
};

template <class F>
PyCFunction as_cfunction(F* f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

template <class T>
class ClassBuilder {
public:
    explicit ClassBuilder(ClassDef* def) : def_(def) {}

    template <class L>
    ClassBuilder& method(const char* name, MethodSig<L> sig, std::string_view doc, L) {
        SigOf<L>::sig = Signature::parse(sig.text, def_->name + "." + name + "()");
        def_->methods.push_back({def_->keep(name), as_cfunction(&method_trampoline<T, L>),
                                 METH_FASTCALL | METH_KEYWORDS, def_->keep(make_doc(sig.text, doc))});
        return *this;
    }
    template <class L>
    ClassBuilder& static_method(const char* name, FnSig<L> sig, std::string_view doc, L) {
        SigOf<L>::sig = Signature::parse(sig.text, def_->name + "." + name + "()");
        def_->statics.push_back({def_->keep(name), as_cfunction(&fn_trampoline<L>), METH_FASTCALL | METH_KEYWORDS,
                                 def_->keep(make_doc(sig.text, doc))});
        return *this;
    }
    template <class L>
    ClassBuilder& getter(const char* name, std::string_view doc, L) {
        def_->getsets.push_back(
            {def_->keep(name), &getter_trampoline<T, L>, nullptr, def_->keep(std::string(doc)), nullptr});
        return *this;
    }
    template <class G, class S>
    ClassBuilder& property(const char* name, std::string_view doc, G, S) {
        def_->getsets.push_back({def_->keep(name), &getter_trampoline<T, G>, &setter_trampoline<T, S>,
                                 def_->keep(std::string(doc)), nullptr});
        return *this;
    }

private:
    ClassDef* def_;
};

class Module {
public:
    template <class L>
    void function(const char* name, FnSig<L> sig, std::string_view doc, L) {
        SigOf<L>::sig = Signature::parse(sig.text, std::string(name) + "()");
        FunctionDef& f = add_function(name, make_doc(sig.text, doc));
        f.def.ml_meth = as_cfunction(&fn_trampoline<L>);
    }

    // A class whose constructor is the lambda (returning T or Result<T, E>).
    template <class T, class L>
    ClassBuilder<T> cls(const char* name, FnSig<L> sig, std::string_view doc, L) {
        SigOf<L>::sig = Signature::parse(sig.text, std::string(name) + ".__new__()");
        ClassDef& c = add_class(name, make_doc(sig.text, doc), sizeof(Instance<T>), &TypeSlot<T>::index);
        c.slots.push_back({Py_tp_new, reinterpret_cast<void*>(&new_trampoline<T, L>)});
        c.slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_trampoline<T>)});
        return ClassBuilder<T>(&c);
    }
    // A class that Python cannot instantiate; instances come from its static methods.
    template <class T>
    ClassBuilder<T> cls_no_constructor(const char* name, std::string_view doc) {
        ClassDef& c = add_class(name, std::string(doc), sizeof(Instance<T>), &TypeSlot<T>::index);
        c.instantiable = false;
        c.slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_trampoline<T>)});
        return ClassBuilder<T>(&c);
    }

    // More methods for a class declared elsewhere (another wrapper file).
    template <class T>
    ClassBuilder<T> extend(const char* name) {
        return ClassBuilder<T>(&class_def(name));
    }

    FunctionDef& add_function(const char* name, std::string doc);
    ClassDef& class_def(const char* name);
    ClassDef& add_class(const char* name, std::string doc, std::size_t basicsize, std::size_t* index_slot);

    std::map<std::string, FunctionDef*, std::less<>> functions;
    std::map<std::string, ClassDef*, std::less<>> classes;
};

// Registration functions, run once when the module is first executed.
using RegisterFn = void (*)(Module&);
struct Registrar {
    explicit Registrar(RegisterFn f);
};
std::vector<RegisterFn>& registrars();

#define QEL_BINDINGS(group)                                                         \
    static void qel_bindings_##group(::qel::py::Module& m);                         \
    static const ::qel::py::Registrar qel_registrar_##group(&qel_bindings_##group); \
    static void qel_bindings_##group([[maybe_unused]] ::qel::py::Module& m)

}  // namespace qel::py
