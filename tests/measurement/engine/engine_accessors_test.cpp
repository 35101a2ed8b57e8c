// The engine's plain accessors: the on-device state and service it is
// handed, its weakly held delegate, and the attributes of file system items.

#include <fstream>

#include "EngineTestSupport.h"
#include "measurement/engine/APMPSMContext.h"

namespace engine_test {
namespace {

class EngineAccessors : public EngineFixture {
protected:
    void SetUp() override { start(); }
};

struct Conversion final : ODCConversionService {
    std::int64_t versionNumber() const override { return 1; }
    std::string versionString() const override { return "1"; }
    void setFirstLaunchTime(std::optional<double>) override {}
    void fetchMeasurementInfoForInteraction(std::int64_t, ValueCompletion) override {}
    void resetAndWipeData() override {}
};
struct Delegate final : APMMeasurementDelegate {};

TEST_F(EngineAccessors, SettersReplaceWhatTheWorkerQueueReadsAndTheDelegateIsHeldWeakly) {
    const auto context = std::make_shared<APMPSMContext>();
    const auto group = std::make_shared<APMGroupContext>();
    const auto service = std::make_shared<Conversion>();
    engine->setODM1Context(context);
    engine->setODM1GroupContext(group);
    engine->setConversionService(service);
    EXPECT_EQ(engine->ODM1Context(), context);
    EXPECT_EQ(engine->ODM1GroupContext(), group);
    EXPECT_EQ(engine->conversionService(), service);

    auto delegate = std::make_shared<Delegate>();
    engine->setMeasurementDelegate(delegate);
    EXPECT_EQ(engine->measurementDelegate(), delegate);
    delegate.reset();
    EXPECT_FALSE(engine->measurementDelegate());
}

TEST_F(EngineAccessors, FileAttributesOfTheItemItself) {
    const auto file = folder.path() / "file";
    std::ofstream(file) << "12345";
    std::filesystem::create_symlink(file, folder.path() / "link");
    using Type = APMFileAttributes::Type;
    const struct {
        std::string path;
        std::optional<Type> type;
        bool logged;
    } cases[] = {
        {file.string(), Type::Regular, false},
        {folder.path().string(), Type::Directory, false},
        {(folder.path() / "link").string(), Type::SymbolicLink, false},
        {(folder.path() / "missing").string(), std::nullopt, true},
        {"", std::nullopt, false},
    };
    for (const auto& c : cases) {
        monitor.clear();
        const auto attributes = engine->fileAttributesForPath(c.path);
        EXPECT_EQ(attributes ? std::optional<Type>(attributes->type) : std::nullopt, c.type) << c.path;
        std::vector<std::string> logged;
        if (c.logged) {
            logged.push_back("[VeredodaAnalytics] WARNING I-ACS023022 Unable to read attributes of path. Path, error, " +
                             c.path + ", No such file or directory");
        }
        EXPECT_EQ(monitor.linesWithCode(23022), logged) << c.path;
    }
    const auto attributes = engine->fileAttributesForPath(file.string());
    ASSERT_TRUE(attributes);
    EXPECT_EQ(attributes->size, 5u);
    EXPECT_GT(attributes->modificationDate, 1.6e9);
}

}  // namespace
}  // namespace engine_test
