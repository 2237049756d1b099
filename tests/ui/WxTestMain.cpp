// GoogleTest main starting wx only to run tests; a failed wx assertion fails the test.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/xrc/xmlres.h>

#include <cstring>

extern void InitXmlResource();  // the compiled dialog resources

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int k = 1; k < argc; ++k)
    if (std::strncmp(argv[k], "--gtest_list_tests", 18) == 0) return RUN_ALL_TESTS();
  wxSetAssertHandler([](const wxString& file, int line, const wxString& func, const wxString& cond,
                        const wxString& msg) {
    ADD_FAILURE_AT(file.utf8_str(), line) << "wx assertion failed in " << func.utf8_str() << ": "
                                          << cond.utf8_str() << " " << msg.utf8_str();
  });
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv)) return std::fprintf(stderr, "wx could not start\n"), 1;
  wxImage::AddHandler(new wxPNGHandler);
  wxXmlResource::Get()->InitAllHandlers();
  InitXmlResource();
  const int nResult = RUN_ALL_TESTS();
  wxEntryCleanup();
  return nResult;
}
