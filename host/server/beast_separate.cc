// The one translation unit that compiles Boost.Asio and Boost.Beast, which
// the host uses with separate compilation (BOOST_ASIO_SEPARATE_COMPILATION,
// BOOST_BEAST_SEPARATE_COMPILATION): every other file only declares them.
#include <boost/asio/impl/src.hpp>
#include <boost/beast/src.hpp>
