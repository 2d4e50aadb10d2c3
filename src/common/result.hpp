// Result<T, E>: a value or an error, shaped like std::expected so that the move to C++23 is
// a single `using`. Errors are values in kiln; nothing throws across a subsystem boundary.
#pragma once

#include <utility>
#include <variant>

namespace kiln {

template <class E>
struct Unexpected {
    E error;
};

// fail(e) builds the error side of any Result whose error type E is constructible from e.
template <class E>
Unexpected<std::decay_t<E>> fail(E&& e) {
    return {std::forward<E>(e)};
}

template <class T, class E>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
    template <class G>
    Result(Unexpected<G> u) : v_(std::in_place_index<1>, std::move(u.error)) {}  // NOLINT

    bool has_value() const { return v_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    E& error() & { return std::get<1>(v_); }
    const E& error() const& { return std::get<1>(v_); }
    E&& error() && { return std::get<1>(std::move(v_)); }

    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

private:
    std::variant<T, E> v_;
};

// Result<void, E>: success carries nothing.
template <class E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    template <class G>
    Result(Unexpected<G> u) : error_(std::move(u.error)), ok_(false) {}  // NOLINT

    bool has_value() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const E& error() const { return error_; }

private:
    E error_{};
    bool ok_ = true;
};

}  // namespace kiln
