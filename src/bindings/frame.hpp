// The binding frame, the one header a wrapper includes: argument matching,
// conversions, borrows, error mapping and registration. A wrapper is its text
// signature and one call into the engine:
//
//     QEL_BINDINGS(order_params) {
//         m.function("plv", "plv(phases_a, phases_b)", "",
//                    [](F64Array a, F64Array b) { return order_params::plv(a.span(), b.span()); });
//     }
//
// The lambda's parameter types pick the converters, in parameter order; the
// names and defaults come from the text signature, which must name as many
// parameters as the lambda takes (not counting a method's object): a wrapper
// whose counts differ does not compile. The result is turned into Python
// objects by to_py (numbers, strings, tuples, vectors as lists, optionals,
// NewArray, Dict, New<T>, Obj, Result<T, E> with E one of QelError,
// PlainError, InternalError or a variant of them).
//
// The parts, one concern each, in frame/: errors (exceptions, owned
// references), arrays (NumPy arguments, borrows), convert and args (value and
// parameter converters), results, instances (objects, object borrows, the
// module's classes), signature (text signatures, matching), trampolines (the
// entry points) and registry (QEL_BINDINGS, m.function, m.cls).
#pragma once

#include "bindings/frame/args.hpp"
#include "bindings/frame/arrays.hpp"
#include "bindings/frame/convert.hpp"
#include "bindings/frame/errors.hpp"
#include "bindings/frame/instances.hpp"
#include "bindings/frame/registry.hpp"
#include "bindings/frame/results.hpp"
#include "bindings/frame/signature.hpp"
#include "bindings/frame/trampolines.hpp"
