// Module A: a scope in every kind of function, in one file and in the header it shares with
// module B, and the exported entry that runs each of them once per iteration.
#include "kit_module.h"

// External linkage and default visibility, as in a new user's plug-in: the statics of such
// inline functions and templates are where a plug-in gets pinned after dlclose.
void Plain()
{
    PROFILE_SCOPE("A::Plain", 0);
}

inline void InlineInSource()
{
    PROFILE_SCOPE("A::Inline", 0);
}

template <typename T> void FunctionTemplate(T)
{
    PROFILE_SCOPE("A::FunctionTemplate", 0);
}

template <typename T> struct SClassTemplate
{
    static void Run() { PROFILE_SCOPE("A::ClassTemplate", 0); }
};

struct SInClass
{
    void Member() const { PROFILE_SCOPE("A::Member", 0); }
};

KIT_TEST_EXPORT void KitModuleARun(int iterations)
{
    const auto lambda = [] { PROFILE_SCOPE("A::Lambda", 0); };
    for (int i = 0; i < iterations; ++i)
    {
        // Two instantiations of each template.
        Plain();
        InlineInSource();
        FunctionTemplate(1);
        FunctionTemplate(0.5);
        SClassTemplate<int>::Run();
        SClassTemplate<char>::Run();
        SInClass().Member();
        lambda();
        KitSharedTemplate(1);
        KitSharedTemplate(0.5f);
        KitSharedInline();
    }
}
