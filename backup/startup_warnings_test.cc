// The warnings at start against a fake system: what each finding says, and
// which of them make the connection check pointless.
#include "backup/startup_warnings.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fake_env.h"
#include "tests/stream_io.h"

namespace {

class StartupWarnings : public ::testing::Test, public fake_env {
 protected:
  StartupWarnings() {
    settings_.db_name = "shop";
    settings_.save_dir = "/bak/";
    settings_.save_file_name = "shop";
  }

  // Returns what warn_before_backing_up() returned; out_ has what it printed.
  bool warn() {
    out_.str("");
    shown_.clear();
    const bool usable = warn_before_backing_up(con_, *this, settings_, "mysqldump", &shown_);
    EXPECT_EQ(shown_.size(), lines().size()) << "each line printed is kept to show again";
    return usable;
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> lines;
    std::istringstream out(out_.str());
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    return lines;
  }

  bool resolve_links(const std::string& path, std::string* target, os_error* error) override {
    if (link_refused_) return *error = {error_kind::other, path, "Permission denied"}, false;
    *target = link_target_.empty() ? path : link_target_;
    return true;
  }
  bool name_is_reserved(const std::string& path, std::string* name) override {
    *name = "NUL.sql";
    return reserved_ && !path.empty();
  }
  bool name_has_forbidden_characters(const std::string& path, std::string* name) override {
    *name = "db?daily.sql";
    return forbidden_ && !path.empty();
  }
  bool is_directory(const std::string& path) override { return directories_.count(path) > 0; }
  bool directory_accepts_files(const std::string& directory, os_error* error) override {
    EXPECT_EQ(directory, expected_folder_);
    if (folder_refused_.empty()) return true;
    *error = {error_kind::other, directory, folder_refused_};
    return false;
  }
  bool text_is_usable(const std::string& text, os_error* error) override {
    if (text.find('\0') != std::string::npos) return *error = {}, false;
    if (text.find('\xff') == std::string::npos) return true;
    *error = {error_kind::unrepresentable};
    return false;
  }
  std::string find_program(const std::string& name) override {
    return tool_found_ ? "/usr/bin/" + name : "";
  }
  bool arguments_fit(const std::vector<std::string>&) override { return arguments_fit_; }

  std::istringstream in_;
  std::ostringstream out_;
  stream_io io_{in_, out_};
  console con_{io_, text_encoding::utf8, nullptr};
  backup_settings settings_;
  std::vector<kept_line> shown_;

  bool link_refused_ = false;
  std::string link_target_;
  bool reserved_ = false;
  bool forbidden_ = false;
  std::set<std::string> directories_;
  std::string expected_folder_ = "/bak/";
  std::string folder_refused_;
  bool tool_found_ = true;
  bool arguments_fit_ = true;
};

TEST_F(StartupWarnings, NothingIsSaidWhenAllIsInOrder) {
  EXPECT_TRUE(warn());
  EXPECT_EQ(out_.str(), "");
}

TEST_F(StartupWarnings, TheDumpFilesPlaceIsLookedAtWhereTheLinkLeads) {
  link_target_ = "/srv/dumps/shop.sql";
  expected_folder_ = "/srv/dumps/";
  folder_refused_ = "Read-only file system";
  EXPECT_TRUE(warn()) << "the connection is still worth checking";
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "警告：保存目录不存在或无法写入：/srv/dumps/: Read-only file system"});

  folder_refused_.clear();
  directories_ = {"/srv/dumps/shop.sql"};
  warn();
  EXPECT_EQ(lines(), std::vector<std::string>{"警告：备份文件的位置已有一个目录：/bak/shop.sql"});

  reserved_ = true;
  warn();
  EXPECT_EQ(lines(),
            std::vector<std::string>{"警告：文件名是Windows保留的设备名，无法保存：NUL.sql"});

  forbidden_ = true;
  warn();
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "警告：文件名含有Windows不允许的字符，无法保存：db?daily.sql"});

  link_refused_ = true;
  warn();
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "警告：备份文件是其他账号建立的符号链接，不会跟随：/bak/shop.sql"});
}

TEST_F(StartupWarnings, AFolderWithoutItsSlashIsSaidWithTheFileItGives) {
  settings_.save_dir = "/bak";
  expected_folder_ = "/";
  EXPECT_TRUE(warn());
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "警告：保存目录没有以斜杠结尾，备份文件将保存为：/bakshop.sql"});
}

TEST_F(StartupWarnings, WhatMakesEveryConnectionFailSkipsTheCheck) {
  settings_.db_name.clear();
  EXPECT_FALSE(warn());
  EXPECT_EQ(lines(), std::vector<std::string>{"警告：尚未设置数据库名，请先选择菜单1"});

  settings_.db_name = "shop";
  tool_found_ = false;
  EXPECT_FALSE(warn());
  EXPECT_EQ(lines(), std::vector<std::string>{"警告：找不到mysqldump，请先安装MySQL客户端工具"});

  tool_found_ = true;
  arguments_fit_ = false;
  EXPECT_FALSE(warn());
  EXPECT_EQ(lines(), std::vector<std::string>{"警告：设置的内容太长，无法启动mysqldump"});
}

TEST_F(StartupWarnings, EachValueTheSystemCannotTakeIsNamed) {
  settings_.db_password = std::string("pa\0ss", 5);
  settings_.save_file_name = "sh\xffop";
  expected_folder_ = "/bak/";
  EXPECT_FALSE(warn());
  const std::vector<std::string> said = lines();
  ASSERT_GE(said.size(), 2u);
  EXPECT_EQ(said[0], "警告：输入的内容含有系统无法接受的字符：数据库密码");
  EXPECT_EQ(said[1], "警告：输入的内容含有当前代码页无法表示的字符：保存的文件名");
}

}  // namespace
