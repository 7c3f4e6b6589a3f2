// Module A, first of two object files: a scope in every kind of function, in one file, and
// the exported entry that runs each of them once per iteration.
#include "kit_module.h"

namespace
{

int Plain(int value)
{
    PROFILE_SCOPE("A::Plain", 0);
    return value + 1;
}

inline int InlineInSource(int value)
{
    PROFILE_SCOPE("A::Inline", 0);
    return value * 3;
}

template <typename T> T FunctionTemplate(T value)
{
    PROFILE_SCOPE("A::FunctionTemplate", 0);
    return value + T(1);
}

template <typename T> struct SClassTemplate
{
    static T Twice(T value)
    {
        PROFILE_SCOPE("A::ClassTemplate", 0);
        return value + value;
    }
};

struct SInClass
{
    int Member(int value) const
    {
        PROFILE_SCOPE("A::Member", 0);
        return value - 1;
    }
};

} // namespace

KIT_TEST_EXPORT void KitModuleARun(int iterations)
{
    volatile int sink = 0;
    const auto lambda = [](int value) {
        PROFILE_SCOPE("A::Lambda", 0);
        return value ^ 5;
    };
    for (int i = 0; i < iterations; ++i)
    {
        // Two instantiations of each template; the shared header's code in both files.
        sink = Plain(i) + InlineInSource(i) + FunctionTemplate(i) +
               static_cast<int>(FunctionTemplate(0.5)) + SClassTemplate<int>::Twice(i) +
               SClassTemplate<char>::Twice(1) + SInClass().Member(i) + lambda(i) +
               KitSharedTemplate(i) + KitModuleAPart2(i);
        KitSharedInline();
    }
    (void)sink;
}
