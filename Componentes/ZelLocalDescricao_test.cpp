#include "ZelLocalDescricao.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "ZelTesteAjudante.h"

namespace {

// A record with a counted array of records that hold counted texts.
struct Item {
  uint32_t ulTam;
  uint32_t ulPad;
  char* pcTexto;
};
struct Lista {
  uint16_t usQtd;
  uint8_t cPad[6];
  Item* pItens;
  void* pReservado;
};

using V = ZelLocalTipoValor;
const ZelLocalTipo kU32{"UI4", 4, V::U32, {}, {}};
const ZelLocalTipo kChar{"char", 1, V::Caractere, {}, {}};
const ZelLocalTipo kItem{"Item", sizeof(Item), V::Registro,
                         {{"ulTam", 0, V::U32, 4}, {"pcTexto", 8, V::Array, 8, &kChar, "ulTam"}}, {}};
const ZelLocalTipo kLista{"Lista", sizeof(Lista), V::Registro,
                          {{"usQtd", 0, V::U16, 2},
                           {"pItens", 8, V::Array, 8, &kItem, "usQtd"},
                           {"pReservado", 16, V::Reservado, 8}},
                          {}};
// Metodo(Lista in, UI4 n, UI4* aIn [n], Lista* pOut, UI4* aOut [n])
const ZelLocalMetodo kMetodo{9,
                             "Metodo",
                             {{"lista", ZelLocalDirecao::Entrada, ZelLocalForma::Valor, &kLista},
                              {"n", ZelLocalDirecao::Entrada, ZelLocalForma::Valor, &kU32},
                              {"aIn", ZelLocalDirecao::Entrada, ZelLocalForma::Array, &kU32, 1},
                              {"pOut", ZelLocalDirecao::Saida, ZelLocalForma::Ponteiro, &kLista},
                              {"aOut", ZelLocalDirecao::Saida, ZelLocalForma::Array, &kU32, 1}}};

// The caller's side of a call, with room for two [out] elements.
struct Chamada {
  Lista lista{};
  uint32_t n = 0;
  uint32_t* aIn = nullptr;
  Lista saida{};
  uint32_t aSaida[2] = {};
  Lista* pOut = &saida;
  uint32_t* aOut = aSaida;
  void* ap[5] = {&lista, &n, &aIn, &pOut, &aOut};
};

HRESULT Le(const std::vector<uint8_t>& v, CZelLocalChamadaStub* pStub) {
  CZelLocalLeitor l(v);
  return pStub->LeEntrada(l);
}

HRESULT LeResposta(CZelLocalEscritor& r, Chamada& c) {
  CZelLocalLeitor l(r.Dados());
  return ZelLocalLeSaida(kMetodo, c.ap, l);
}

}  // namespace

TEST(ZelLocalDescricao, IdaEVoltaComArraysAninhadosSemVazarBlocos) {
  char t1[] = {'a', 'b', 'c'};
  Item itens[2] = {{3, 0, t1}, {5, 0, nullptr}};  // an absent text whatever its count
  uint32_t aIn[2] = {7, 9};
  Chamada c{.lista = {2, {}, itens, nullptr}, .n = 2, .aIn = aIn};
  int64_t nBlocos = CoTaskMemBlocosVivos();

  CZelLocalEscritor e;
  ASSERT_EQ(ZelLocalEscreveEntrada(kMetodo, c.ap, e), S_OK);
  CZelLocalEscritor r;
  {
    CZelLocalChamadaStub stub(kMetodo);
    ASSERT_EQ(Le(e.Dados(), &stub), S_OK);
    void* const* ap = stub.Argumentos();
    const Lista& recebida = *static_cast<Lista*>(ap[0]);
    ASSERT_EQ(recebida.usQtd, 2);
    EXPECT_STREQ(recebida.pItens[0].pcTexto, "abc");  // terminated on arrival
    EXPECT_EQ(recebida.pItens[1].pcTexto, nullptr);
    EXPECT_EQ((*static_cast<uint32_t**>(ap[2]))[1], 9u);
    // A block of the object's own, and one of the call's storage that is not its to free.
    Lista* pOut = *static_cast<Lista**>(ap[3]);
    std::memset(pOut->cPad, 0xCC, sizeof pOut->cPad);  // stays home
    pOut->usQtd = 1;
    pOut->pItens = static_cast<Item*>(CoTaskMemAlloc(sizeof(Item)));
    pOut->pItens[0] = {2, 0, recebida.pItens[0].pcTexto};
    (*static_cast<uint32_t**>(ap[4]))[1] = 42;
    stub.EscreveSaida(HR(0x80040101), r);
  }
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos);  // the stub freed the object's blocks
  for (size_t i = 5 + 2; i < 5 + 8; ++i) EXPECT_EQ(r.Dados()[i], 0) << "reply padding at " << i;

  EXPECT_EQ(LeResposta(r, c), HR(0x80040101));  // outputs kept on failure
  ASSERT_EQ(c.saida.usQtd, 1);
  EXPECT_EQ(std::string(c.saida.pItens[0].pcTexto, 2), "ab");
  EXPECT_EQ(c.aSaida[1], 42u);
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos + 2);  // one block per array
  CoTaskMemFree(c.saida.pItens[0].pcTexto);
  CoTaskMemFree(c.saida.pItens);
}

// A reply cut wrong after its [out] block was made leaves no pointer to the
// freed block. A counted text arrives terminated though its block held other bytes.
TEST(ZelLocalDescricao, PonteiroDeSaidaDeRespostaMalFormadaFicaNuloETextoTermina) {
  const ZelLocalMetodo kDuplo{12, "Duplo", {{"pp", ZelLocalDirecao::Saida, ZelLocalForma::PonteiroDuplo, &kU32}}};
  for (const bool bSobra : {false, true}) {
    uint32_t* p = nullptr;
    uint32_t** pp = &p;
    void* ap[1] = {&pp};
    CZelLocalEscritor r;
    r.U32(0);
    r.U8(1);
    r.U8(1);
    r.U32(7);
    if (bSobra) r.U8(0);
    const int64_t nBlocos = CoTaskMemBlocosVivos();
    CZelLocalLeitor l(r.Dados());
    EXPECT_EQ(ZelLocalLeSaida(kDuplo, ap, l), bSobra ? RPC_X_BAD_STUB_DATA : S_OK);
    EXPECT_EQ(p == nullptr ? 0u : *p, bSobra ? 0u : 7u);
    CoTaskMemFree(p);
    EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos);
  }
  const ZelLocalMetodo kItemSaida{13, "Item", {{"pp", ZelLocalDirecao::Saida, ZelLocalForma::PonteiroDuplo, &kItem}}};
  const std::string sTexto(30, 't');
  CZelLocalEscritor r;
  r.U32(0);
  r.U8(1);
  r.U8(1);
  const Item item{static_cast<uint32_t>(sTexto.size()), 0, nullptr};
  r.Bytes(&item, sizeof item);
  r.U8(1);
  r.Bytes(sTexto.data(), sTexto.size());
  Item* pItem = nullptr;
  Item** ppItem = &pItem;
  void* apItem[1] = {&ppItem};
  void* pSujo = CoTaskMemAlloc(sTexto.size() + 1);  // the allocator hands this one back next
  std::memset(pSujo, 'X', sTexto.size() + 1);
  CoTaskMemFree(pSujo);
  CZelLocalLeitor l(r.Dados());
  ASSERT_EQ(ZelLocalLeSaida(kItemSaida, apItem, l), S_OK);
  ASSERT_NE(pItem, nullptr);
  ASSERT_NE(pItem->pcTexto, nullptr);
  EXPECT_EQ(std::string(pItem->pcTexto), sTexto);
  CoTaskMemFree(pItem->pcTexto);
  CoTaskMemFree(pItem);
}

TEST(ZelLocalDescricao, PedidoMalFormadoERecusado) {
  // A well-formed request to corrupt: lista{usQtd 1, item "ab"}, n 1, aIn {5}.
  char t[] = {'a', 'b'};
  Item item{2, 0, t};
  uint32_t aIn[1] = {5};
  Chamada c{.lista = {1, {}, &item, nullptr}, .n = 1, .aIn = aIn};
  CZelLocalEscritor e;
  ASSERT_EQ(ZelLocalEscreveEntrada(kMetodo, c.ap, e), S_OK);
  const std::vector<uint8_t> bom = e.Dados();
  auto corrompe = [&](size_t pos, const void* p, size_t n) {
    std::vector<uint8_t> v = bom;
    std::memcpy(v.data() + pos, p, n);
    return v;
  };
  uint16_t usMuitos = 60000;
  uint32_t ulMuitos = 0xFFFFFFFF, ulDois = 2;
  uint8_t bDois = 2;
  std::vector<uint8_t> sobra = bom;
  sobra.push_back(0);
  // Offsets: lista 24 bytes, presence 24, item 25..40, presence 41, text 42..43,
  // n 44, aIn presence 48, count 49, value 53.
  const std::pair<const char*, std::vector<uint8_t>> casos[] = {
      {"well-formed", bom},
      {"record count beyond the frame", corrompe(0, &usMuitos, 2)},
      {"text count beyond the frame", corrompe(25, &ulMuitos, 4)},
      {"presence byte not 0 or 1", corrompe(24, &bDois, 1)},
      {"[in] array count beyond the frame", corrompe(49, &ulMuitos, 4)},
      {"[in] array disagreeing with its count", corrompe(44, &ulDois, 4)},
      {"[out] array too large for a reply", corrompe(44, &ulMuitos, 4)},
      {"truncated", std::vector<uint8_t>(bom.begin(), bom.end() - 1)},
      {"trailing bytes", sobra},
  };
  for (const auto& [sz, v] : casos) {
    CZelLocalChamadaStub stub(kMetodo);
    EXPECT_EQ(Le(v, &stub), v == bom ? S_OK : RPC_X_BAD_STUB_DATA) << sz;
  }
  // An array its description gives no count for, though the first parameter could pass for one.
  const ZelLocalMetodo kSemContagem{13, "SemContagem",
                                    {{"n", ZelLocalDirecao::Entrada, ZelLocalForma::Valor, &kU32},
                                     {"a", ZelLocalDirecao::Entrada, ZelLocalForma::Array, &kU32}}};
  CZelLocalEscritor semContagem;
  semContagem.U32(1);
  semContagem.U8(1);
  semContagem.U32(1);
  semContagem.U32(5);
  CZelLocalChamadaStub stubSemContagem(kSemContagem);
  EXPECT_EQ(Le(semContagem.Dados(), &stubSemContagem), RPC_X_BAD_STUB_DATA);
  // A value one byte longer than what is left is not read, nor anything after.
  const uint8_t ab[4] = {1, 2, 3, 4};
  CZelLocalLeitor l(ab, 3);
  uint32_t ul = 0;
  EXPECT_FALSE(l.U32(&ul));
  EXPECT_EQ(ul, 0u);
  uint8_t b = 0;
  EXPECT_FALSE(l.U8(&b));
  EXPECT_EQ(b, 0);
  EXPECT_EQ(l.Restante(), 0u);
}

// A kept buffer gets the payload a new writer writes, and keeps its room.
TEST(ZelLocalDescricao, EscritorSobreBufferGuardadoEscreveOMesmo) {
  const auto Escreve = [](CZelLocalEscritor& e) {
    e.U16(0x0102);
    std::vector<uint8_t> bloco(3000);
    for (size_t i = 0; i < bloco.size(); ++i) bloco[i] = static_cast<uint8_t>(i * 7);
    e.Acrescenta(bloco.data(), bloco.size())[0] = 0x55;  // the copy, wherever growth took it
    e.U32(0xA0B0C0D0);
  };
  CZelLocalEscritor novo;
  CZelLocalEscritor usado(std::vector<uint8_t>(5000, 0xEE));
  Escreve(novo);
  Escreve(usado);
  EXPECT_EQ(novo.Tamanho(), 2u + 3000 + 4);
  EXPECT_EQ(usado.Tamanho(), novo.Tamanho());
  const std::vector<uint8_t>& v = novo.Dados();
  ASSERT_EQ(v.size(), 2u + 3000 + 4);
  EXPECT_EQ(v[2], 0x55);
  EXPECT_EQ(v[3], 7);
  EXPECT_EQ(v[v.size() - 1], 0xA0);
  EXPECT_EQ(usado.Dados(), v);
  EXPECT_GE(usado.Dados().capacity(), 5000u);
}

TEST(ZelLocalDescricao, RespostaMalFormadaNaoDeixaNadaParaOCliente) {
  Chamada c{.n = 2};
  std::memset(&c.saida, 0x77, sizeof c.saida);
  c.aSaida[0] = 1;
  int64_t nBlocos = CoTaskMemBlocosVivos();
  // A reply's start: hr, outputs present, pOut.
  auto resposta = [](const Lista& l) {
    CZelLocalEscritor e;
    e.U32(0);
    e.U8(1);
    e.Bytes(&l, sizeof l);
    return e;
  };
  // pOut with one item whose text is announced but cut.
  CZelLocalEscritor r = resposta({1, {}, nullptr, nullptr});
  r.U8(1);
  Item it{4, 0, nullptr};
  r.Bytes(&it, sizeof it);
  r.U8(1);
  r.Bytes("ab", 2);
  EXPECT_EQ(LeResposta(r, c), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos);
  EXPECT_EQ(c.saida.pItens, nullptr);
  EXPECT_EQ(c.aSaida[0], 0u);

  // An [out] array longer or shorter than the caller's count.
  for (uint32_t n : {3u, 1u}) {
    CZelLocalEscritor r2 = resposta({});
    r2.U8(0);
    r2.U32(n);
    for (uint32_t v = 1; v <= n; ++v) r2.U32(v);
    EXPECT_EQ(LeResposta(r2, c), RPC_X_BAD_STUB_DATA) << n;
    EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos);
  }

  // A count its frame cannot hold, though below the bytes left: refused before any allocation.
  CZelLocalEscritor r4 = resposta({40, {}, nullptr, nullptr});
  r4.U8(1);
  r4.Bytes(std::string(40, 'x').data(), 40);
  const uint64_t nBytesAntes = CoTaskMemBytesPedidos();
  EXPECT_EQ(LeResposta(r4, c), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(CoTaskMemBytesPedidos(), nBytesAntes);
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos);

  // A presence mark other than 0 or 1 in pOut spoils the reply, even when a good aOut follows it.
  CZelLocalEscritor r5 = resposta({});
  r5.U8(2);
  for (uint32_t v : {2u, 1u, 2u}) r5.U32(v);
  EXPECT_EQ(LeResposta(r5, c), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos);

  // A reply carrying only a result.
  CZelLocalEscritor r3;
  ZelLocalEscreveSoResultado(RPC_X_BAD_STUB_DATA, r3);
  EXPECT_EQ(LeResposta(r3, c), RPC_X_BAD_STUB_DATA);
}

// A record inside a record: its fields lie at its own offset; no padding travels as the caller left it.
struct Par {
  uint8_t cTipo;
  Lista lista;
};
const ZelLocalTipo kPar{"Par", sizeof(Par), V::Registro,
                        {{"cTipo", 0, V::U8, 1}, {"lista", offsetof(Par, lista), V::Registro, sizeof(Lista), &kLista}},
                        {}};
const ZelLocalMetodo kMetodoPar{11, "Par", {{"par", ZelLocalDirecao::Entrada, ZelLocalForma::Valor, &kPar}}};

// A record of a single field is a record all the same.
struct Um {
  void* pReservado;
};
const ZelLocalTipo kUm{"Um", sizeof(Um), V::Registro, {{"pReservado", 0, V::Reservado, sizeof(void*)}}, {}};
const ZelLocalMetodo kMetodoUm{12, "Um", {{"um", ZelLocalDirecao::Entrada, ZelLocalForma::Valor, &kUm}}};

TEST(ZelLocalDescricao, RegistroAninhadoViajaComSeusArraysESemEnderecos) {
  char t[] = {'a', 'b', 'c'};
  Item item{3, 0xBBBBBBBBu, t};
  Par par;
  std::memset(&par, 0xAA, sizeof par);
  par.cTipo = 5;
  par.lista.usQtd = 1;
  par.lista.pItens = &item;
  par.lista.pReservado = reinterpret_cast<void*>(uintptr_t{0xDEADBEEFCAFE0000});
  void* ap[1] = {&par};
  CZelLocalEscritor e;
  ASSERT_EQ(ZelLocalEscreveEntrada(kMetodoPar, ap, e), S_OK);
  const std::vector<uint8_t>& v = e.Dados();
  // Par, the presence of pItens, then the item: ulTam, padding, pcTexto.
  ASSERT_GE(v.size(), sizeof(Par) + 1 + sizeof(Item));
  const size_t l = offsetof(Par, lista);
  for (size_t i = 1; i < l; ++i) EXPECT_EQ(v[i], 0) << "outer padding at " << i;
  for (size_t i = l + 2; i < l + 24; ++i) EXPECT_EQ(v[i], 0) << "inner padding or pointer byte at " << i;
  for (size_t i = sizeof(Par) + 5; i < sizeof(Par) + 9; ++i) EXPECT_EQ(v[i], 0) << "element padding at " << i;
  EXPECT_EQ(v[sizeof(Par) + 1], 3) << "fields keep their bytes";

  CZelLocalChamadaStub stub(kMetodoPar);
  ASSERT_EQ(Le(v, &stub), S_OK);
  const Par& recebido = *static_cast<const Par*>(stub.Argumentos()[0]);
  EXPECT_EQ(recebido.cTipo, 5);
  ASSERT_EQ(recebido.lista.usQtd, 1);
  ASSERT_NE(recebido.lista.pItens, nullptr);
  EXPECT_STREQ(recebido.lista.pItens[0].pcTexto, "abc");
  EXPECT_EQ(recebido.lista.pReservado, nullptr);

  Um um{reinterpret_cast<void*>(uintptr_t{0xDEADBEEFCAFE0000})};
  void* apUm[1] = {&um};
  CZelLocalEscritor eUm;
  ASSERT_EQ(ZelLocalEscreveEntrada(kMetodoUm, apUm, eUm), S_OK);
  EXPECT_EQ(eUm.Dados(), std::vector<uint8_t>(sizeof(Um), 0)) << "its pointer does not travel";
}

TEST(ZelLocalDescricao, SaidaDeUmaChamadaTemTetoDeAlocacao) {
  // A request of a few bytes asks for [out] arrays of n elements.
  auto pedido = [](uint32_t n) {
    CZelLocalEscritor e;
    std::vector<uint8_t> lista(sizeof(Lista), 0);
    e.Bytes(lista.data(), lista.size());
    e.U8(0);  // pItens absent
    e.U32(n);
    e.U8(0);  // aIn absent
    return e.Dados();
  };
  const uint32_t nMax = static_cast<uint32_t>(kZelLocalMaxSaidaChamada / sizeof(uint32_t));
  for (uint32_t n : {nMax, nMax + 1}) {
    CZelLocalChamadaStub stub(kMetodo);
    EXPECT_EQ(Le(pedido(n), &stub), n == nMax ? S_OK : RPC_X_BAD_STUB_DATA) << n;
  }

  // An [in] count its bytes cannot hold is refused before its elements are allocated.
  std::vector<uint8_t> v = pedido(1);
  const uint32_t ulBytes = 4u << 20;  // a count of bytes, not of elements
  v.back() = 1;
  v.resize(v.size() + 4 + ulBytes);
  std::memcpy(v.data() + v.size() - ulBytes - 4, &ulBytes, 4);
  const struct mallinfo2 antes = mallinfo2();
  CZelLocalChamadaStub stubIn(kMetodo);
  EXPECT_EQ(Le(v, &stubIn), RPC_X_BAD_STUB_DATA);
  const struct mallinfo2 depois = mallinfo2();
  EXPECT_LT(depois.uordblks + depois.hblkhd, antes.uordblks + antes.hblkhd + (1u << 20));

  // The client sends the largest and refuses one more before it travels, as it does a null [out] pointer.
  for (uint32_t n : {nMax, nMax + 1}) {
    Chamada c{.n = n};
    CZelLocalEscritor e;
    EXPECT_EQ(ZelLocalEscreveEntrada(kMetodo, c.ap, e), n == nMax ? S_OK : E_INVALIDARG) << n;
  }
  Chamada c{.n = 1};
  c.aOut = nullptr;
  CZelLocalEscritor e;
  EXPECT_EQ(ZelLocalEscreveEntrada(kMetodo, c.ap, e), RPC_X_NULL_REF_POINTER);
}

namespace {
// 0 when look-ups for a missing interface during thousands of registrations
// all find none, and every registered one is found after. Freed blocks of
// 4 KiB and more go back to the system, so reading a moved list faults.
ZEL_AJUDANTE(BuscasDuranteRegistros) {
  mallopt(M_MMAP_THRESHOLD, 4096);
  constexpr uint32_t kQtd = 8200;  // the list moves each time it doubles, last past 8192 entries
  static constexpr IID kAusente = {0x0BADF00D, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  std::vector<ZelLocalInterface> a;
  a.reserve(kQtd);
  for (uint32_t i = 0; i < kQtd; ++i)
    a.push_back({{0x5E1F0000 + i, 0x7B3D, 0x4E55, {0, 0, 0, 0, 0, 0, 0, 2}}, "IDeTeste", {}, nullptr, nullptr});
  std::atomic<bool> bFim{false};
  std::atomic<uint64_t> nBuscas{0}, nAchadas{0};
  std::thread leitor([&] {
    while (!bFim) {
      if (ZelLocalBuscaInterface(kAusente) != nullptr) ++nAchadas;
      ++nBuscas;
    }
  });
  while (nBuscas == 0) std::this_thread::yield();
  for (const ZelLocalInterface& d : a) ZelLocalRegistraInterface(&d);
  bFim = true;
  leitor.join();
  for (const ZelLocalInterface& d : a)
    if (ZelLocalBuscaInterface(d.iid) != &d) return 1;
  return nAchadas == 0 ? 0 : 2;
}
}  // namespace

// A new description replaces the earlier one; look-ups never read a moved list.
TEST(ZelLocalDescricao, NovaDescricaoSubstituiAAnteriorEBuscaNaoLeListaVelha) {
  static constexpr IID kIid = {0x5E1F0C2D, 0x7B3D, 0x4E55, {0x9A, 0x01, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
  // Descriptions that are only looked up, never served nor proxied.
  static const ZelLocalInterface primeira{kIid, "IPrimeira", {}, nullptr, nullptr};
  static const ZelLocalInterface segunda{kIid, "ISegunda", {kMetodo}, nullptr, nullptr};
  EXPECT_EQ(ZelLocalBuscaInterface(kIid), nullptr);
  ZelLocalRegistraInterface(&primeira);
  EXPECT_EQ(ZelLocalBuscaInterface(kIid), &primeira);
  ZelLocalRegistraInterface(&segunda);
  EXPECT_EQ(ZelLocalBuscaInterface(kIid), &segunda);
  EXPECT_EQ(ZelLocalBuscaInterface(kIid)->Metodo(9), &segunda.metodos[0]);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("BuscasDuranteRegistros")), 0);
}
