#include "AccountScreens.h"

namespace kovra::ui {

AccountScreens::AccountScreens(AccountServices services) : m_services(std::move(services)) {}

} // namespace kovra::ui
