#include "quillet-dictate/hud/AccountAuthCard.h"

#include <utility>

#include "common/runtime/Weakly.h"
#include "common/text/UnicodeText.h"

namespace quillet::dictate {

namespace {

// Only spaces and tabs: a line break in the e-mail field is left for the server to refuse.
std::string trimmedSpacesAndTabs(std::string_view text) {
  constexpr std::string_view kBlanks = " \t";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::shared_ptr<AccountAuthCard> AccountAuthCard::create(AuthService& auth) {
  return std::shared_ptr<AccountAuthCard>(new AccountAuthCard(auth));
}

AccountAuthCard::AccountAuthCard(AuthService& auth) : auth_(auth) {}

Subscription AccountAuthCard::observeChanges(std::function<void()> observer) {
  return changes_.add(std::move(observer));
}

void AccountAuthCard::setEmail(std::string email) {
  email_ = std::move(email);
  changes_.notify();
}

void AccountAuthCard::setPassword(std::string password) {
  password_ = std::move(password);
  changes_.notify();
}

bool AccountAuthCard::canSubmit() const {
  return !working_ && email_.find('@') != std::string::npos && email_.find('.') != std::string::npos &&
         text::characterCount(password_) >= kMinimumPasswordCharacters;
}

void AccountAuthCard::submit() {
  if (!canSubmit()) return;
  working_ = true;
  errorMsg_.clear();
  changes_.notify();

  const AuthMode sentMode = mode_;
  // The sentence follows the request that failed, even if the user toggled the mode meanwhile.
  auto completion = weakly(shared_from_this(), [sentMode](AccountAuthCard& card, Expected<void, VessioAuthError> signedIn) {
    card.finish(signedIn, sentMode);
  });
  const std::string email = trimmedSpacesAndTabs(email_);
  if (sentMode == AuthMode::signin) {
    auth_.signIn(email, password_, std::move(completion));
  } else {
    auth_.signUp(email, password_, std::move(completion));
  }
}

void AccountAuthCard::finish(const Expected<void, VessioAuthError>& signedIn, AuthMode sentMode) {
  working_ = false;
  if (signedIn.failed()) errorMsg_ = AuthErrorText::friendlyAuthError(signedIn.error().description(), sentMode);
  changes_.notify();
}

void AccountAuthCard::toggleMode() {
  mode_ = mode_ == AuthMode::signin ? AuthMode::signup : AuthMode::signin;
  errorMsg_.clear();
  changes_.notify();
}

std::string_view AccountAuthCard::title() const {
  return mode_ == AuthMode::signin ? "Sign in to Vessio" : "Create Vessio account";
}

std::string_view AccountAuthCard::submitLabel() const {
  return mode_ == AuthMode::signin ? "Sign in" : "Create account";
}

std::string_view AccountAuthCard::togglePrompt() const {
  return mode_ == AuthMode::signin ? "New to Vessio?" : "Already have an account?";
}

std::string_view AccountAuthCard::toggleAction() const {
  return mode_ == AuthMode::signin ? "Sign up" : "Sign in";
}

}  // namespace quillet::dictate
