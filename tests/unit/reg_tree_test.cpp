// RegKey as a container: enumeration order whatever the order of insertion,
// the i-th value or subkey while names come and go, stable subkey addresses, and
// copies and destruction of trees far deeper than the stack would allow by
// recursion.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "registry/memory/reg_tree.h"

namespace {

using qz::CompareRegistryNames;
using qz::RegKey;
using qz::RegValue;

std::u16string Name(int number) {
    const std::string text = "Name " + std::to_string(number);
    return std::u16string(text.begin(), text.end());
}

RegValue Value(std::u16string name, BYTE byte) { return RegValue{std::move(name), REG_BINARY, {byte}}; }

std::string Utf8(const std::u16string& name) { return std::string(name.begin(), name.end()); }

RegKey Key(std::u16string name) {
    RegKey key;
    key.name = std::move(name);
    return key;
}

std::vector<std::u16string> Sorted(std::vector<std::u16string> names) {
    std::sort(names.begin(), names.end(),
              [](const std::u16string& a, const std::u16string& b) { return CompareRegistryNames(a, b) < 0; });
    return names;
}

TEST(RegKey, EnumeratesInNameOrderWhateverTheOrderOfInsertion) {
    std::vector<std::u16string> ascending;
    for (int i = 0; i < 300; ++i) ascending.push_back(Name(i));
    ascending = Sorted(ascending);
    std::vector<std::u16string> descending(ascending.rbegin(), ascending.rend());
    std::vector<std::u16string> shuffled = ascending;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));

    for (const auto* order : {&ascending, &descending, &shuffled}) {
        RegKey key;
        bool byName = false;
        for (const std::u16string& name : *order) {
            key.SetValue(Value(name, 1));
            // Both ways of adding a subkey keep the order.
            if ((byName = !byName)) {
                key.FindOrAddSubkey(name);
            } else {
                key.AddSubkey(Key(name));
            }
        }
        ASSERT_EQ(key.ValueCount(), ascending.size());
        ASSERT_EQ(key.SubkeyCount(), ascending.size());
        std::vector<std::u16string> values, subkeys, valuesByIndex, subkeysByIndex;
        for (const RegValue& value : key.Values()) values.push_back(value.name);
        for (const RegKey& subkey : key.Subkeys()) subkeys.push_back(subkey.name);
        for (std::size_t i = 0; i < key.ValueCount(); ++i) valuesByIndex.push_back(key.ValueAt(i).name);
        for (std::size_t i = 0; i < key.SubkeyCount(); ++i) subkeysByIndex.push_back(key.SubkeyAt(i).name);
        EXPECT_EQ(values, ascending);
        EXPECT_EQ(subkeys, ascending);
        EXPECT_EQ(valuesByIndex, ascending);
        EXPECT_EQ(subkeysByIndex, ascending);
    }
}

TEST(RegKey, NamesMatchWithoutRegardToCaseAndKeepTheCaseOfTheirCreation) {
    RegKey key;
    key.SetValue(Value(u"Mixed Case", 1));
    key.SetValue(Value(u"MIXED CASE", 2));
    ASSERT_EQ(key.ValueCount(), 1u);
    EXPECT_EQ(key.ValueAt(0).name, u"Mixed Case");
    EXPECT_EQ(key.ValueAt(0).data, std::vector<BYTE>{2});

    RegKey& first = key.AddSubkey(Key(u"Sub"));
    RegKey& again = key.AddSubkey(Key(u"SUB"));
    EXPECT_EQ(&first, &again);
    EXPECT_EQ(key.SubkeyCount(), 1u);
    EXPECT_EQ(key.FindSubkey(u"sub"), &first);
    bool created = true;
    EXPECT_EQ(&key.FindOrAddSubkey(u"SUB", &created), &first);
    EXPECT_FALSE(created);
    RegKey& other = key.FindOrAddSubkey(u"Other", &created);
    EXPECT_TRUE(created);
    EXPECT_EQ(other.name, u"Other");
    EXPECT_EQ(key.SubkeyCount(), 2u);
    EXPECT_EQ(&key.SubkeyAt(0), &other);
    EXPECT_TRUE(key.RemoveSubkey(u"other"));
    EXPECT_TRUE(key.RemoveSubkey(u"sUB"));
    EXPECT_FALSE(key.RemoveSubkey(u"Sub"));
    EXPECT_TRUE(key.RemoveValue(u"mixed case"));
    EXPECT_EQ(key.FindValue(u"Mixed Case"), nullptr);
}

// The i-th element asked for in the patterns enumerations use (forwards,
// backwards, from the start again after removing, jumps) while names are added
// and removed in between: always the i-th of a sorted model.
TEST(RegKey, TheIthValueAndSubkeyFollowInsertionsAndRemovals) {
    std::mt19937 random(12345);
    RegKey key;
    std::vector<std::u16string> model;
    auto check = [&](std::size_t index) {
        ASSERT_LT(index, model.size());
        ASSERT_EQ(key.ValueAt(index).name, model[index]) << "value " << index;
        ASSERT_EQ(key.SubkeyAt(index).name, model[index]) << "subkey " << index;
    };
    for (int round = 0; round < 4000; ++round) {
        const int action = static_cast<int>(random() % 6);
        if (action <= 1 || model.size() < 3) {
            const std::u16string name = Name(static_cast<int>(random() % 500));
            key.SetValue(Value(name, 0));
            key.AddSubkey(Key(name));
            if (std::find(model.begin(), model.end(), name) == model.end()) {
                model.push_back(name);
                model = Sorted(model);
            }
        } else if (action == 2) {
            // Remove one that the cursor may stand on, before or after it.
            const std::u16string name = model[random() % model.size()];
            ASSERT_TRUE(key.RemoveValue(name));
            ASSERT_TRUE(key.RemoveSubkey(name));
            model.erase(std::find(model.begin(), model.end(), name));
        } else if (action == 3) {
            for (std::size_t i = 0; i < model.size(); ++i) check(i);
        } else if (action == 4) {
            for (std::size_t i = model.size(); i-- > 0;) check(i);
        } else {
            check(random() % model.size());
            check(0);
            check(model.size() - 1);
        }
    }
    // Enumerate index 0, remove that name, again, until none is left.
    while (!model.empty()) {
        check(0);
        ASSERT_TRUE(key.RemoveValue(model[0]));
        ASSERT_TRUE(key.RemoveSubkey(model[0]));
        model.erase(model.begin());
    }
    EXPECT_EQ(key.ValueCount(), 0u);
    EXPECT_EQ(key.SubkeyCount(), 0u);
}

// A key filled from empty collects its names and orders them when first asked
// for the order: meanwhile every name is found (without regard to case), a name
// given again replaces or returns the first, and nothing moves when the order is
// made. Copies, moves and removals see the same key.
TEST(RegKey, AKeyFilledFromEmptyFindsWhatItCollectedAndOrdersItOnDemand) {
    // Short names, and long ones alike in their first code units (the order is
    // first made from those), some the beginning of others.
    for (const std::u16string stem : {u"", u"A long beginning shared by all "})
    for (std::size_t count : {3u, 15u, 16u, 17u, 1000u}) {
        std::vector<std::u16string> names;
        for (std::size_t i = 0; i < count; ++i) names.push_back(stem + Name(static_cast<int>(i)));
        std::vector<std::u16string> shuffled = names;
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(static_cast<unsigned>(count)));

        RegKey key;
        std::vector<const RegValue*> valueAddresses;
        std::vector<const RegKey*> subkeyAddresses;
        for (std::size_t i = 0; i < shuffled.size(); ++i) {
            key.SetValue(Value(shuffled[i], 1));
            if (i % 2 == 0) {
                key.AddSubkey(Key(shuffled[i]));
            } else {
                key.FindOrAddSubkey(shuffled[i]);
            }
        }
        // Every name again, in other case: found, not added.
        for (const std::u16string& name : shuffled) {
            std::u16string upper = name;
            for (char16_t& c : upper) c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
            key.SetValue(Value(upper, 2));
            bool created = true;
            EXPECT_EQ(&key.FindOrAddSubkey(upper, &created), key.FindSubkey(name));
            EXPECT_FALSE(created);
            EXPECT_EQ(&key.AddSubkey(Key(upper)), key.FindSubkey(name));
            valueAddresses.push_back(key.FindValue(upper));
            subkeyAddresses.push_back(key.FindSubkey(upper));
            ASSERT_NE(valueAddresses.back(), nullptr) << Utf8(name);
            ASSERT_NE(subkeyAddresses.back(), nullptr) << Utf8(name);
            EXPECT_EQ(valueAddresses.back()->name, name) << "the case of the first creation";
            EXPECT_EQ(subkeyAddresses.back()->name, name);
        }
        EXPECT_EQ(key.FindValue(u"missing"), nullptr);
        EXPECT_EQ(key.FindSubkey(u"missing"), nullptr);
        ASSERT_EQ(key.ValueCount(), count);
        ASSERT_EQ(key.SubkeyCount(), count);

        // A copy and a move of the collecting key are the same key.
        RegKey copy = key;
        RegKey moved = std::move(copy);
        EXPECT_NE(moved.FindValue(names.back()), nullptr);
        EXPECT_TRUE(SameContent(moved, key));

        // Ordered on demand, in place.
        const std::vector<std::u16string> sorted = Sorted(names);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(key.ValueAt(i).name, sorted[i]);
            EXPECT_EQ(key.ValueAt(i).data, std::vector<BYTE>{2});
            EXPECT_EQ(key.SubkeyAt(i).name, sorted[i]);
        }
        for (std::size_t i = 0; i < shuffled.size(); ++i) {
            EXPECT_EQ(key.FindValue(shuffled[i]), valueAddresses[i]);
            EXPECT_EQ(key.FindSubkey(shuffled[i]), subkeyAddresses[i]);
        }
        // Once ordered, more names go to their place.
        key.SetValue(Value(u"!first", 3));
        key.FindOrAddSubkey(u"zzz last");
        EXPECT_EQ(key.ValueAt(0).name, u"!first");
        EXPECT_EQ(key.SubkeyAt(count).name, u"zzz last");
        EXPECT_TRUE(key.RemoveValue(sorted[0]));
        EXPECT_TRUE(key.RemoveSubkey(sorted[0]));
        EXPECT_EQ(key.ValueCount(), count);
        EXPECT_EQ(key.SubkeyCount(), count);
    }
}

TEST(RegKey, SubkeysKeepTheirAddressWhileSiblingsComeAndGo) {
    RegKey key;
    RegKey* kept = &key.AddSubkey(Key(u"Kept"));
    kept->SetValue(Value(u"v", 9));
    for (int i = 0; i < 2000; ++i) key.AddSubkey(Key(Name(i)));
    for (int i = 0; i < 2000; i += 2) key.RemoveSubkey(Name(i));
    EXPECT_EQ(key.FindSubkey(u"kept"), kept);
    EXPECT_EQ(kept->FindValue(u"v")->data, std::vector<BYTE>{9});
}

TEST(RegKey, ACopyIsIndependentAndAsDeepAsTheOriginal) {
    RegKey original = Key(u"Root");
    RegKey* branch = &original.AddSubkey(Key(u"Branch"));
    branch->id = 42;
    branch->isVolatile = true;
    branch->AddSubkey(Key(u"Leaf")).SetValue(Value(u"x", 1));
    original.AddSubkey(Key(u"Other"));

    RegKey copy = original;
    EXPECT_TRUE(SameContent(copy, original));
    const RegKey* copiedBranch = copy.FindSubkey(u"Branch");
    ASSERT_NE(copiedBranch, nullptr);
    EXPECT_NE(copiedBranch, branch);
    EXPECT_EQ(copiedBranch->id, 42u);
    EXPECT_TRUE(copiedBranch->isVolatile);

    copy.FindSubkey(u"Branch")->FindSubkey(u"Leaf")->SetValue(Value(u"x", 2));
    EXPECT_FALSE(SameContent(copy, original));
    EXPECT_EQ(branch->FindSubkey(u"Leaf")->FindValue(u"x")->data, std::vector<BYTE>{1});

    // Assignment replaces the whole tree.
    copy = Key(u"Root");
    EXPECT_EQ(copy.SubkeyCount(), 0u);
    copy = original;
    EXPECT_TRUE(SameContent(copy, original));
}

TEST(RegKey, SameContentSeesADifferenceAtAnyDepth) {
    RegKey base = Key(u"Root");
    base.AddSubkey(Key(u"A")).AddSubkey(Key(u"B")).SetValue(Value(u"v", 1));
    struct Case {
        const char* what;
        void (*change)(RegKey&);
    };
    const Case cases[] = {
        {"value data", [](RegKey& k) { k.FindSubkey(u"A")->FindSubkey(u"B")->SetValue(Value(u"v", 2)); }},
        {"extra value", [](RegKey& k) { k.FindSubkey(u"A")->SetValue(Value(u"w", 1)); }},
        {"extra subkey", [](RegKey& k) { k.FindSubkey(u"A")->FindSubkey(u"B")->AddSubkey(Key(u"C")); }},
        {"subkey case", [](RegKey& k) {
             k.FindSubkey(u"A")->RemoveSubkey(u"B");
             k.FindSubkey(u"A")->AddSubkey(Key(u"b")).SetValue(Value(u"v", 1));
         }},
        {"value name case", [](RegKey& k) {
             RegKey* b = k.FindSubkey(u"A")->FindSubkey(u"B");
             b->RemoveValue(u"v");
             b->SetValue(Value(u"V", 1));
         }},
    };
    for (const Case& c : cases) {
        RegKey changed = base;
        ASSERT_TRUE(SameContent(changed, base)) << c.what;
        c.change(changed);
        EXPECT_FALSE(SameContent(changed, base)) << c.what;
        EXPECT_FALSE(SameContent(base, changed)) << c.what;
    }
}

// A chain this deep would take megabytes of stack if copying, comparing or
// freeing recursed once per level (more under AddressSanitizer).
TEST(RegKey, AChainOfAHundredThousandLevelsIsCopiedComparedAndFreedWithoutRecursion) {
    constexpr int kDepth = 100000;
    RegKey root = Key(u"Root");
    RegKey* tip = &root;
    for (int level = 0; level < kDepth; ++level) tip = &tip->AddSubkey(Key(u"Level"));
    tip->SetValue(Value(u"deepest", 1));

    RegKey copy = root;
    EXPECT_TRUE(SameContent(copy, root));
    const RegKey* walk = &copy;
    int levels = 0;
    while (walk->HasSubkeys()) {
        walk = &walk->SubkeyAt(0);
        ++levels;
    }
    EXPECT_EQ(levels, kDepth);
    EXPECT_NE(walk->FindValue(u"deepest"), nullptr);

    EXPECT_TRUE(copy.RemoveSubkey(u"Level"));
    EXPECT_EQ(copy.SubkeyCount(), 0u);
    RegKey moved = std::move(root);
    moved = RegKey();
    EXPECT_FALSE(moved.HasSubkeys());
}

}  // namespace
