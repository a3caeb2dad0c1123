// bind_arguments and its messages.
#include <string>

#include "runtime/arguments.hpp"
#include "runtime/text.hpp"

namespace veltrane::runtime {
namespace {

std::string full_name(const CallSignature& signature) {
    return std::string(signature.function_name) + "()";
}

PyErr too_many_positional(const CallSignature& signature, Py_ssize_t given) {
    return PyErr::type_error(full_name(signature) + " takes " +
                             std::to_string(signature.parameters.size()) +
                             " positional arguments but " + std::to_string(given) + " were given");
}

PyErr unexpected_keyword(const CallSignature& signature, PyObject* name) {
    return PyErr::type_error(full_name(signature) + " got an unexpected keyword argument '" +
                             str_or(name, "<unprintable>") + "'");
}

PyErr multiple_values(const CallSignature& signature, std::string_view name) {
    return PyErr::type_error(full_name(signature) + " got multiple values for argument '" +
                             std::string(name) + "'");
}

// "f() missing 3 required positional arguments: 'a', 'b', and 'c'"
PyErr missing_parameters(const CallSignature& signature, PyObject* const* slots) {
    std::size_t missing[kMaxParameters];
    std::size_t count = 0;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (slots[i] == nullptr) {
            missing[count++] = i;
        }
    }
    std::string message = full_name(signature) + " missing " + std::to_string(count) +
                          " required positional " + (count == 1 ? "argument" : "arguments") + ": ";
    for (std::size_t k = 0; k < count; ++k) {
        if (k > 0) {
            if (count > 2) {
                message += ",";
            }
            message += (k + 1 == count) ? " and " : " ";
        }
        message += "'";
        message += signature.parameters[missing[k]];
        message += "'";
    }
    return PyErr::type_error(std::move(message));
}

}  // namespace

std::optional<PyErr> detail::bind_with_keywords(const CallSignature& signature,
                                                const CallArgs& call, PyObject** slots) {
    const std::size_t parameter_count = signature.parameters.size();
    const auto given = static_cast<std::size_t>(call.nargs);
    for (std::size_t i = 0; i < parameter_count; ++i) {
        slots[i] = (call.args != nullptr && i < given) ? call.args[i] : nullptr;
    }
    if (given > parameter_count) {
        return too_many_positional(signature, call.nargs);
    }

    if (call.kwnames != nullptr) {
        const Py_ssize_t keyword_count = PyTuple_Size(call.kwnames);
        for (Py_ssize_t k = 0; k < keyword_count; ++k) {
            PyObject* name = PyTuple_GetItem(call.kwnames, k);
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
            if (utf8 == nullptr) {
                // No UTF-8 form (a lone surrogate): it can name no parameter.
                (void)PyErr::take_pending();
                return unexpected_keyword(signature, name);
            }
            const std::string_view text(utf8, static_cast<std::size_t>(size));
            std::size_t index = 0;
            while (index < parameter_count && signature.parameters[index] != text) {
                ++index;
            }
            if (index == parameter_count) {
                return unexpected_keyword(signature, name);
            }
            if (slots[index] != nullptr) {
                return multiple_values(signature, text);
            }
            slots[index] = call.args[call.nargs + k];
        }
    }

    for (std::size_t i = given; i < signature.required; ++i) {
        if (slots[i] == nullptr) {
            return missing_parameters(signature, slots);
        }
    }
    return std::nullopt;
}

}  // namespace veltrane::runtime
