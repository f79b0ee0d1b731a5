// A board opened as the host opens it, with bundles written for the test into a temporary DOCS
// folder, and right clicks that open components' information dialogs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/toplevel.h>

#include "korvel/agsi.h"
#include "korvel/board_testing.h"
#include "korvel/exports.h"
#include "korvel/kvbase.h"
#include "korvel/settings.h"

namespace korvel::test {

namespace fs = std::filesystem;

struct Bundle {
  std::string id;
  std::string lib;
  std::string after;
  std::vector<std::string> extraLines;  // "Description = ...", "Models = ..."
};

class BoardSession {
 public:
  explicit BoardSession(const std::string& name)
      : docs_(fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
    fs::remove_all(docs_);
    fs::create_directories(docs_);
    menu_ = korvelBoardMenuForTesting();
  }
  ~BoardSession() {
    close();
    korvelUseModulesForTesting(nullptr);
    fs::remove_all(docs_);
  }

  fs::path folderOf(const std::string& id) const { return docs_ / id; }

  void addBundle(const Bundle& bundle) {
    const fs::path folder = folderOf(bundle.id);
    fs::create_directories(folder);
    std::ofstream info(folder / "Info.list");
    info << "ID = " << bundle.id << "\nLib = " << bundle.lib << "\n";
    if (!bundle.after.empty()) info << "LoadAfterID = " << bundle.after << "\n";
    for (const std::string& line : bundle.extraLines) info << line << "\n";
  }

  bool open() {
    if (korvelUseModulesForTesting(docs_.string().c_str()) != 1) return false;
    menu_->fp(menu_);
    return board() != nullptr;
  }
  void close() {
    if (menu_ && menu_->pDlg->hw) menu_->pDlg->Kill(menu_->pDlg);
    flushIdle();
  }
  wxTopLevelWindow* board() const { return static_cast<wxTopLevelWindow*>(menu_->pDlg->hw); }

  // Right-clicks the component as the toolkit delivers the click; returns its open dialog.
  static wxWindow* rightClick(KVBase* component) {
    wxMouseEvent click(wxEVT_RIGHT_DOWN);
    click.SetPosition(wxPoint(2, 2));
    click.SetEventObject(component);
    component->GetEventHandler()->ProcessEvent(click);
    return component->infoDialog();
  }

  // Lets deferred deletions (closed dialogs) and posted work happen.
  static void flushIdle() {
    for (int i = 0; i < 4 && wxTheApp; ++i) {
      while (wxTheApp->Pending()) wxTheApp->Dispatch();
      wxTheApp->ProcessPendingEvents();
      wxTheApp->ProcessIdle();
    }
  }

 private:
  fs::path docs_;
  AGSIMENU* menu_ = nullptr;
};

// A settings file of the test's own, removed afterwards.
class ScratchSettings {
 public:
  explicit ScratchSettings(const std::string& content = "")
      : path_(fs::temp_directory_path() / ("korvel-dialog-" + std::to_string(::getpid()) + ".ini")) {
    fs::remove(path_);
    if (!content.empty()) std::ofstream(path_) << content;
    SettingsManager::resetForTesting(path_.string());
  }
  ~ScratchSettings() { fs::remove(path_); }
  std::string text() const {
    std::ifstream in(path_);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace korvel::test
